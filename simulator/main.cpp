// ravsim: plays a file written by ravgen through a simulated device under
// test and writes the recording, so that the whole workflow (ravdelay,
// ravprep, ravan, ravplot) can be tried without a sound card.
//
// The device (gain, polarity, one filter, delay) acts on the channels named
// by --device-on (default both); another channel stays a plain loopback, as
// a reference input wired to the output would. --latency adds silent frames
// ahead of everything, --noise adds white noise that many dB below the
// burst's level on both channels. --cardioid START turns a polar run into a
// turntable measurement: from frame START on, channel 1's level follows a
// cardioid over the 72 one-second steps.
#include "common/replacing_file.h"
#include "simulator/simulator.h"

#include <iostream>

int main(int argc, char** argv)
{
    removeUnfinishedOnSignal();
    return runSimulator(argc, argv, std::cout, std::cerr);
}
