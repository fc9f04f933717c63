/* The simulated camera driver's own control request, outside the camera's
   protocol: the faults to inject, so that tests can make the camera stall,
   fail a read or vanish. Input: a SimcamFaultConfig; no output. */
#ifndef KV20X_SIMDRIVER_IOCTL_H
#define KV20X_SIMDRIVER_IOCTL_H

/* Device type FILE_DEVICE_UNKNOWN, function 0x900, METHOD_BUFFERED, any access. */
#define IOCTL_SIMCAM_CONFIGURE 0x00222400u

/* What the camera has been asked since the driver started, so that a test
   can tell that an application sent it nothing: no input; output a
   SimcamStats. Function 0x901, METHOD_BUFFERED, any access. */
#define IOCTL_SIMCAM_STATS 0x00222404u

typedef struct SimcamStats {
    unsigned int requestingOpens; /* opened handles that sent the camera a request */
    unsigned int controls;        /* camera requests (vendor requests, pipe arms) */
    unsigned int reads;           /* bulk reads */
} SimcamStats;

#define SIMDRIVER_SERVICE_NAME "kv20xsim"
#define SIMDRIVER_FILE_NAME "kv20xsim.sys"

#endif
