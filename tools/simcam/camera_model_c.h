/* The camera model for C callers: the kernel-mode simulated driver, whose
   kernel headers are C only, reaches the model through these functions. The
   model itself is camera_model.h. */
#ifndef KV20X_SIMCAM_CAMERA_MODEL_C_H
#define KV20X_SIMCAM_CAMERA_MODEL_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SIMCAM_SCENE_BYTES (2048u * 1536u)

enum {
    SIMCAM_READ_DONE = 0,
    SIMCAM_READ_FAILED = 1,
    SIMCAM_READ_NOT_YET = 2,
    SIMCAM_READ_STALLED = 3
};

/* Faults, as the fault-injection control request carries them. Frame
   numbers count transmitted frames from each stream start; -1 is none. */
typedef struct SimcamFaultConfig {
    uint32_t faults;                /* the model's FaultFlags */
    uint32_t streamControlFailMask; /* bit v: StreamControl with value v fails */
    int32_t dropChunk;
    int32_t extraChunk;
    int32_t wrongFinal;
    int32_t failRead;
    uint32_t failReadIndex;
    int32_t stallFrom;
    uint32_t chipVersion;           /* 0 keeps the chip version */
} SimcamFaultConfig;

size_t simcam_model_bytes(void);
void simcam_model_init(void *model, uint8_t *scene);
/* Nonzero when the driver call succeeds. */
int simcam_model_control(void *model, uint32_t code, const uint8_t *input, uint32_t inputBytes, uint8_t *output,
                         uint32_t outputBytes, uint32_t *returned, uint64_t nowUs);
/* SIMCAM_READ_*; *bytes for a done read, *readyAtUs for one not yet due. */
int simcam_model_read(void *model, uint8_t *destination, uint32_t length, uint64_t nowUs, uint32_t *bytes,
                      uint64_t *readyAtUs);
void simcam_model_configure(void *model, const SimcamFaultConfig *config);
/* Nonzero while control requests go unanswered (the driver holds them). */
int simcam_model_controls_hang(const void *model);

#ifdef __cplusplus
}
#endif

#endif
