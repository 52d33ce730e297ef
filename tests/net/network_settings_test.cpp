// What the network settings dialogs store, and the dialogs themselves
// driven once on the offscreen platform.

#include "config/settings.h"
#include "net/connectivity.h"
#include "net/network_dialogs.h"
#include "net/network_settings.h"
#include "platform/messages.h"
#include "support/temp_config.h"

#include "support/test_application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

namespace {

TEST(NetworkSettingsTest, ReadsThePortFieldLikeTheDialogShowsIt)
{
    EXPECT_EQ(BasePortFromText("7010"), 7010);
    EXPECT_EQ(BasePortFromText("12ab"), 12);
    EXPECT_EQ(BasePortFromText("abc"), 0);
    EXPECT_EQ(BasePortFromText(""), 0);
    EXPECT_EQ(BasePortFromText("99999"), 99999);
    EXPECT_EQ(ControlPortText("7000"), "7001");
    EXPECT_EQ(ControlPortText("abc"), "1");
    EXPECT_EQ(ControlPortText("2147483647"), "2147483648");
}

TEST(NetworkSettingsTest, OkStoresAndSavesThePortAndForgetsMappingsOnlyWhenItChanged)
{
    TempConfig config;
    SetDefaultSettings();
    gReachability.portsMapped = 1;
    EXPECT_EQ(ApplyNetworkSettings("7000"), 0);
    EXPECT_EQ(gReachability.portsMapped, 1);
    EXPECT_TRUE(std::filesystem::exists(config.SettingsFile()));

    EXPECT_EQ(ApplyNetworkSettings("7100"), 0);
    EXPECT_EQ(gReachability.portsMapped, 0);
    gSettings.record.basePort = 1;
    ASSERT_EQ(LoadSettings(), 0);
    EXPECT_EQ(gSettings.record.basePort, 7100);
}

TEST(NetworkSettingsTest, ReadsAndShowsTheNicAddress)
{
    uint32_t address = 1;
    EXPECT_EQ(ParseNicAddress("", address), 0);
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(ParseNicAddress("192.168.1.20", address), 0);
    EXPECT_EQ(address, 0xC0A80114u);
    EXPECT_EQ(ParseNicAddress("10..0.1", address), 0);
    EXPECT_EQ(address, 0x0A000001u);
    EXPECT_EQ(ParseNicAddress("10.1", address), 0);
    EXPECT_EQ(address, 0x0A010000u);
    for (const char* bad : {"300.1.1.1", "1.2.3.4.5", "1.2.3.x", " 1.2.3.4", "1234.1.1.1"})
        EXPECT_EQ(ParseNicAddress(bad, address), -1) << bad;
    EXPECT_EQ(NicAddressText(0), "");
    EXPECT_EQ(NicAddressText(0xC0A80114u), "192.168.1.20");
    EXPECT_EQ(NicAddressText(0xFFFFFFFFu), "255.255.255.255");
}

QPushButton* DialogButton(QDialog* dialog, QDialogButtonBox::StandardButton which)
{
    return dialog->findChild<QDialogButtonBox*>()->button(which);
}

CNetworkSetupDlg* ShownNetworkDialog()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<CNetworkSetupDlg*>(window);
        if (dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

TEST(NetworkDialogTest, TheDialogsShowEditAndStoreTheSettings)
{
    Application();
    TempConfig config;
    SetDefaultSettings();
    gReachability.portsMapped = 1;
    QTimer::singleShot(0, [] {
        CNetworkSetupDlg* dialog = ShownNetworkDialog();
        ASSERT_NE(dialog, nullptr);
        auto* basePort = dialog->findChild<QLineEdit*>("basePort");
        auto* controlPort = dialog->findChild<QLineEdit*>("controlPort");
        EXPECT_EQ(basePort->text(), "7000");
        EXPECT_EQ(controlPort->text(), "7001");
        EXPECT_TRUE(controlPort->isReadOnly());
        basePort->setText("7200");
        EXPECT_EQ(controlPort->text(), "7201");
        DialogButton(dialog, QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(RunNetworkSetupDialog(nullptr), IDOK);
    EXPECT_EQ(gSettings.record.basePort, 7200);
    EXPECT_EQ(gReachability.portsMapped, 0);
    EXPECT_TRUE(std::filesystem::exists(config.SettingsFile()));

    CAdvNetworkSetupDlg cancelled;
    cancelled.findChild<QCheckBox*>("disableDirectory")->click();
    EXPECT_EQ(gSettings.record.directoryDisabled, 1);
    cancelled.findChild<QLineEdit*>("nicAddress")->setText("192.168.1.20");
    DialogButton(&cancelled, QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(gSettings.record.directoryDisabled, 1);
    EXPECT_EQ(gSettings.record.listenAddress, 0u);

    CAdvNetworkSetupDlg confirmed;
    EXPECT_TRUE(confirmed.findChild<QCheckBox*>("disableDirectory")->isChecked());
    auto* nicAddress = confirmed.findChild<QLineEdit*>("nicAddress");
    EXPECT_EQ(nicAddress->text(), "");
    nicAddress->setText("300.1.1.1");
    DialogButton(&confirmed, QDialogButtonBox::Ok)->click();
    EXPECT_EQ(confirmed.result(), QDialog::Rejected);
    nicAddress->setText("192.168.1.20");
    DialogButton(&confirmed, QDialogButtonBox::Ok)->click();
    EXPECT_EQ(confirmed.result(), QDialog::Accepted);
    EXPECT_EQ(gSettings.record.listenAddress, 0xC0A80114u);
    EXPECT_EQ(CAdvNetworkSetupDlg().findChild<QLineEdit*>("nicAddress")->text(), "192.168.1.20");
}

} // namespace
