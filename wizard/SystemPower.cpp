// The power source as Windows reports it (under Wine: from Linux's
// /sys/class/power_supply, read by the calling process itself).
#include <windows.h>

#include "PowerSource.h"

TPowerSource SystemPowerSource() {
    SYSTEM_POWER_STATUS status = {};
    if (!GetSystemPowerStatus(&status)) return TPowerSource::Unknown;
    return PowerSourceOf(status.ACLineStatus);
}
