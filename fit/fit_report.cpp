#include "fit/fit_report.h"

#include "common/report_format.h"

#include <cmath>
#include <ostream>

void writeStepHeader(std::ostream& report)
{
    report << "numCyc\tduration\tnomFreq\tactFreq\tdB 1\tdB 2\tdB diff\tphase 1\tphase 2\tphase diff\terr 1\terr 2"
              "\tdist 1\tdist 2\tnoise 1\tnoise 2"
           << std::endl;
}

void writeGridHeader(std::ostream& report)
{
    report << "freq\tdB 1\tdB 2\tdB diff\tphase 1\tphase 2\tphase diff\terr 1\terr 2" << std::endl;
}

void writeReadings(std::ostream& report, const ChannelReading (&readings)[2], bool perStep)
{
    double level[2], phase[2];
    for (int c = 0; c < 2; ++c) {
        std::complex<double> h = readings[c].response;
        level[c] = 20 * std::log10(std::abs(h));
        phase[c] = std::atan2(-h.imag(), h.real());
    }
    RowText row;
    double values[] = {level[0], level[1], 20 * std::log10(std::abs(readings[0].response) / std::abs(readings[1].response)),
                       phase[0], phase[1], phase[0] - phase[1], readings[0].err, readings[1].err,
                       readings[0].dist, readings[1].dist, readings[0].noise, readings[1].noise};
    std::size_t count = perStep ? 12 : 8;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            row.addTab();
        row.addReal(values[i]);
    }
    row.writeTo(report);
    report << '\n';
}
