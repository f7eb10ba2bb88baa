// Whether the power source lets a flash start. A flash that loses power half
// way leaves the board without working firmware, so the wizard does not start
// the flashing tool while the computer runs on battery. Portable: the Win32
// side passes in the AC line status that GetSystemPowerStatus reported.
#pragma once

enum class TPowerSource { Battery, Mains, Unknown };

// The AC line status byte of SYSTEM_POWER_STATUS: 0 offline (battery),
// 1 online; 255 and every value Windows does not define count as unknown.
TPowerSource PowerSourceOf(unsigned char acLineStatus);

// False only on battery: an unknown source (desktops without power
// management report one) must not stop a flash.
bool PowerAllowsFlash(TPowerSource source);

// "battery", "AC power" or "unknown", for people.
const char* PowerSourceName(TPowerSource source);

// The source the system reports now (Win32 builds only; GetSystemPowerStatus,
// unknown when the call fails).
TPowerSource SystemPowerSource();

// What the user sees when a flash is refused for want of mains power.
extern const char kOnBatteryMessage[];
