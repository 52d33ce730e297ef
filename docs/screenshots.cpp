// Renders the main window and the main dialogs into docs/*.png for the
// README, with the demo's channels on the virtual TV card. Run by hand:
//   build/bin/orvandel-screenshots docs
// (headless is fine: QT_QPA_PLATFORM=offscreen).

#include "account/account_dialogs.h"
#include "capture/tuner.h"
#include "app/main_frame.h"
#include "capture/capture_graph.h"
#include "config/settings.h"
#include "media/media_folder_dialog.h"
#include "net/network_dialogs.h"
#include "record/recording_setup_dlg.h"
#include "record/schedule_dialogs.h"
#include "server/encode_file_dialog.h"
#include "server/stats_dlg.h"
#include "shared/resources.h"
#include "ui/channel_dlg.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <functional>
#include <string>

namespace {

void SetUpDemoChannels()
{
    const struct {
        int index;
        const char* name;
    } channels[] = {{3, "Test card"}, {5, "Moving picture"}, {9, "Colour bars"}};
    for (const auto& demo : channels) {
        ChannelRecord& channel = gSettings.channels[demo.index];
        channel.enabled = 1;
        std::snprintf(channel.description, sizeof channel.description, "%s", demo.name);
        std::snprintf(channel.videoDeviceName, sizeof channel.videoDeviceName, "Virtual TV Tuner");
        std::snprintf(channel.audioDeviceName, sizeof channel.audioDeviceName, "Virtual TV Tuner");
        channel.videoDevice = channel.audioDevice = 0;
        channel.editSelection = 0;
        channel.tunerChannel = demo.index;
    }
    gSettings.record.enabledChannels = 3;
    gSettings.record.currentChannel = 5;
    gSettings.record.mediaFolders[0].used = 1;
    std::snprintf(gSettings.record.mediaFolders[0].path, 256, "/srv/films");
}

bool Save(QWidget& widget, const std::string& path)
{
    widget.show();
    QApplication::processEvents();
    const bool saved = widget.grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    widget.hide();
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "docs";
    SetDefaultSettings();
    SetUpDemoChannels();
    AllocateLargeBuffers();
    CreateGraphObjects();
    EnumerateCaptureDevices();
    ReconcileChannelDevices();
    Tuner tuner;
    CMainFrame frame(tuner, false);
    CChannelDlg lineup(tuner);
    CRecordingSetupDlg recording;
    CRecScheduleListDlg schedules;
    CFileOutput encode;
    CNetworkSetupDlg network;
    CMediaFolderDlg folders;
    CAccountSetupDlg account(AccountDialogMode::NewAccount);
    bool all = true;
    for (const auto& [widget, name] : std::initializer_list<std::pair<QWidget*, const char*>>{
             {&frame, "main-window"}, {&lineup, "channel-lineup"}, {&recording, "recording-settings"},
             {&schedules, "scheduled-recordings"}, {&encode, "encode-file"}, {&network, "network-settings"},
             {&folders, "media-folders"}, {&account, "new-account"}})
        all = Save(*widget, folder + "/" + name + ".png") && all;
    ReleaseGraphObjects();
    FreeLargeBuffers();
    return all ? 0 : 1;
}
