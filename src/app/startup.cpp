#include "app/startup.h"

#include "app/resources.h"
#include "app/server_state.h"
#include "config/settings.h"
#include "encode/live_params.h"
#include "platform/messages.h"
#include "platform/paths.h"

int RunInitialisationSequence()
{
    ResetServerState();
    gState.previewVisible = 0;
    gState.previewMuted = 1;
    SetDefaultSettings();
    SetDefaultEncoderParams();
    CreateProgramEvents();
    if (AllocateLargeBuffers() != 0) {
        ShowMessage("Out of memory!", 1, 0);
        return 0;
    }
    LoadSettings();
    AuthorizeInFirewall(ExecutablePath());
    return 1;
}

void ShutdownProcess()
{
    SaveSettings();
    gState.disconnected = 1;
    gState.running = 0;
    FreeLargeBuffers();
}

bool AccountIsStored()
{
    const SettingsRecord& record = gSettings.record;
    return record.email[0] && record.userName[0] && record.password[0];
}
