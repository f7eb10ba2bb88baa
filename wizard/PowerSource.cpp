#include "PowerSource.h"

const char kOnBatteryMessage[] =
    "The computer is running on battery power. Connect the power adapter and try again; nothing was flashed.";

TPowerSource PowerSourceOf(unsigned char acLineStatus) {
    switch (acLineStatus) {
    case 0: return TPowerSource::Battery;
    case 1: return TPowerSource::Mains;
    default: return TPowerSource::Unknown;
    }
}

bool PowerAllowsFlash(TPowerSource source) { return source != TPowerSource::Battery; }

const char* PowerSourceName(TPowerSource source) {
    switch (source) {
    case TPowerSource::Battery: return "battery";
    case TPowerSource::Mains: return "AC power";
    default: return "unknown";
    }
}
