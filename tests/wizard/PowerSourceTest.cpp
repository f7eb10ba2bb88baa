// The power-source decision over every AC line status byte: only a reported
// battery stops a flash.
#include <gtest/gtest.h>

#include "PowerSource.h"

TEST(PowerSource, OnlyBatteryStopsAFlash) {
    for (int status = 0; status <= 255; ++status) {
        const TPowerSource s = PowerSourceOf(static_cast<unsigned char>(status));
        EXPECT_EQ(s, status == 0 ? TPowerSource::Battery
                     : status == 1 ? TPowerSource::Mains
                                   : TPowerSource::Unknown)
            << status;
        EXPECT_EQ(PowerAllowsFlash(s), status != 0) << status;
    }
}
