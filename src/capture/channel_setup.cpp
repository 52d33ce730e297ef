#include "capture/channel_setup.h"

#include "capture/capture_graph.h"
#include "capture/crossbar_router.h"
#include "shared/live_params.h"

#include <algorithm>

void LoadChannelSetup(const ChannelRecord& record, ChannelSetupModel& model)
{
    model = {};
    const int video = (record.editSelection >> 8) & 0xFF;
    const int audio = record.editSelection & 0xFF;
    const bool built = SelectCaptureDevicesByIndex(video, audio, gLiveParams.frameRate) == 0;
    if (built && gCapture.router) {
        int count = 0;
        gCapture.router->RouteCount(count);
        for (int route = 0; route < count; ++route) {
            char name[64];
            int type = 0;
            gCapture.router->RouteInputName(route, name, sizeof name);
            gCapture.router->RouteInputType(route, type);
            model.routeNames.push_back(name);
            if (type == kPhysVideoTuner && model.tunerRoute < 0)
                model.tunerRoute = route;
        }
    }
    model.tunerFound = built && FindTuner() != nullptr;
    model.channel = record.tunerChannel;
    model.country = record.tunerCountry;
    model.antenna = record.tunerInputType != 0;
    model.motion = record.motionDetection != 0;
    const int wanted = record.videoCrossbarIn != -1 ? record.videoCrossbarIn : model.tunerRoute;
    model.videoInput = wanted >= 0 && wanted < static_cast<int>(model.routeNames.size()) ? wanted : -1;
}

void StoreChannelSetup(const ChannelSetupModel& model, ChannelRecord& record)
{
    record.tunerChannel = model.channel;
    record.tunerCountry = model.country;
    record.tunerInputType = model.antenna ? 1 : 0;
    record.videoCrossbarIn = model.routeNames.empty() ? -1 : model.videoInput;
    record.videoCrossbarOut = -1;
    record.audioCrossbarIn = -1;
    record.audioCrossbarOut = -1;
    record.motionDetection = model.motion ? 1 : 0;
}

int StepSpinValue(int value, int steps)
{
    return std::clamp(value + steps, kSpinMinimum, kSpinMaximum);
}
