#include "camera_model_c.h"

#include "camera_model.h"

using namespace simcam;

static_assert(SIMCAM_SCENE_BYTES == kSceneBytes);

extern "C" size_t simcam_model_bytes(void)
{
    return sizeof(CameraModel);
}

extern "C" void simcam_model_init(void* model, uint8_t* scene)
{
    ModelInit(static_cast<CameraModel*>(model), scene);
}

extern "C" int simcam_model_control(void* model, uint32_t code, const uint8_t* input, uint32_t inputBytes,
                                    uint8_t* output, uint32_t outputBytes, uint32_t* returned, uint64_t nowUs)
{
    return ModelControl(static_cast<CameraModel*>(model), code, input, inputBytes, output, outputBytes, returned,
                        nowUs)
               ? 1
               : 0;
}

extern "C" int simcam_model_read(void* model, uint8_t* destination, uint32_t length, uint64_t nowUs, uint32_t* bytes,
                                 uint64_t* readyAtUs)
{
    const ReadOutcome outcome = ModelRead(static_cast<CameraModel*>(model), destination, length, nowUs);
    *bytes = outcome.bytes;
    *readyAtUs = outcome.readyAtUs;
    switch (outcome.status) {
    case ReadStatus::Done: return SIMCAM_READ_DONE;
    case ReadStatus::Failed: return SIMCAM_READ_FAILED;
    case ReadStatus::NotYet: return SIMCAM_READ_NOT_YET;
    default: return SIMCAM_READ_STALLED;
    }
}

extern "C" void simcam_model_configure(void* model, const SimcamFaultConfig* config)
{
    auto* camera = static_cast<CameraModel*>(model);
    camera->faults = config->faults;
    camera->streamControlFailMask = config->streamControlFailMask;
    camera->plan.dropChunk = config->dropChunk;
    camera->plan.extraChunk = config->extraChunk;
    camera->plan.wrongFinal = config->wrongFinal;
    camera->plan.failRead = config->failRead;
    camera->plan.failReadIndex = config->failReadIndex;
    camera->plan.stallFrom = config->stallFrom;
    if (config->chipVersion != 0)
        camera->chipVersion = static_cast<uint16_t>(config->chipVersion);
}

extern "C" int simcam_model_controls_hang(const void* model)
{
    return (static_cast<const CameraModel*>(model)->faults & kFaultHangControl) != 0 ? 1 : 0;
}
