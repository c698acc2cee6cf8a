#include "locator/step_table.h"

StepTable StepTable::from(BurstSchedule schedule)
{
    StepTable table;
    table.numAvg = schedule.numAvg;
    table.interval = schedule.interval;
    table.delay = schedule.delay;
    table.sweep = schedule.sweep;
    for (schedule.begin(); schedule.hasMore(); schedule.next())
        table.steps.push_back({schedule.nomFreq, schedule.actFreq, schedule.omega, schedule.duration});
    return table;
}
