// Flashing on battery power, from start to end: power-supply.sh mounts a
// power-supply folder of this test's own over /sys/class/power_supply (where
// Wine reads the AC line status); the test flips the adapter's "online" file
// and drives the wizard like a user.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "PowerSource.h"
#include "WizardSteps.h"

using namespace drv;
using namespace e2e;

namespace {

const char kOnBattery[] =
    "The computer is running on battery power. Connect the power adapter and try again; nothing was flashed.";

std::string PowerDir() { return Env("NORV_POWER_DIR"); }

bool SetAdapter(bool online) { return WriteFile(PowerDir() + "\\AC\\online", online ? "1\n" : "0\n"); }

TEST(FlashOnBattery, IsRefusedUntilTheAdapterIsConnected) {
    if (PowerDir().empty()) GTEST_SKIP() << "run by power-supply.sh, which mounts the power-supply folder";
    Images images;
    const std::string fileBytes = RandomImage(64 * 1024, 3);
    const std::string fileImage = images.Add("a1 v1003.awd", fileBytes);
    const std::string oldPart = RandomImage(1024, 4);
    struct Case {
        const char* name;
        bool internet;
        bool onBattery;
    };
    for (Case c : {Case{"from a file, on battery", false, true}, Case{"from the Internet, on battery", true, true},
                   Case{"from a file, adapter connected", false, false}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetAdapter(!c.onBattery));
        ASSERT_EQ(SystemPowerSource(), c.onBattery ? TPowerSource::Battery : TPowerSource::Mains)
            << "the test's power-supply folder is not the one Wine reads";
        WizardRun r(c.internet ? 1 : 0);
        ASSERT_NE(r.work, nullptr);
        r.app.Put("Flashpart.bin", oldPart);
        HWND page = r.work;  // where a refused flash returns
        std::function<void()> tryFlash = [&] { FlashFromFile(*r.p, r.work, fileImage); };
        if (c.internet) {
            ASSERT_NE(r.server, nullptr);
            r.Next(kMirror2);
            ASSERT_NE(r.WaitVersionPage(), nullptr);
            page = r.version;
            tryFlash = [&] { Click(Child(r.version, "Button", "&Next")); };
        }
        const int downloads = Downloads(2, "a1v1003.zip");
        tryFlash();
        if (c.onBattery) {
            MessageBoxInfo box;
            ASSERT_TRUE(NextMessageBox(r.p->Pid(), 60000, &box)) << "no message on battery";
            EXPECT_EQ(box.text, kOnBattery);
            EXPECT_EQ(box.title, "NORV Update");
            EXPECT_EQ(box.buttons, 1);
            EXPECT_FALSE(box.anyIcon);
            HWND next = Child(page, "Button", "&Next");
            ASSERT_TRUE(WaitFor(15000, [&] { return IsWindowVisible(page) && IsWindowEnabled(next); }))
                << "the page the flash came from is back";
            EXPECT_TRUE(r.p->Running());
            EXPECT_EQ(ReadErrorCode(), -1) << "the flashing tool was started";
            EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == oldPart) << "the emulated part changed";
            if (c.internet) {
                // unpacked from the newest package into the run's work folder
                EXPECT_TRUE(FileExists(r.WorkFolder() + "bios\\a1v1003.awd")) << "the unpacked image must stay for the next try";
            }
            ASSERT_TRUE(SetAdapter(true));
            tryFlash();
        }
        EXPECT_EQ(r.p->Wait(60000), 0) << "the flash goes on with the adapter connected";
        EXPECT_EQ(ReadErrorCode(), 530);
        const std::string image = c.internet ? NewestImage() : fileBytes;
        EXPECT_FALSE(image.empty());
        EXPECT_TRUE(ReadFile(r.app.Path + "Flashpart.bin") == image) << "the emulated part must equal the image";
        if (c.internet) {
            EXPECT_EQ(Downloads(2, "a1v1003.zip"), downloads + 1) << "one download for both tries";
            EXPECT_TRUE(r.NewInTemp().empty()) << "the run's work folder is gone";
        }
    }
}

}  // namespace
