/* A client written in C against the one header a client needs: it reads and
   changes settings through the interface's table of methods, slot by slot. */
#define COBJMACROS
#include "settings/ikv20x.h"

/* Returns 0 when every call landed in the slot it names, else the number of
   the first call that did not. */
int RunCClient(IUnknown *object)
{
    IKV20X *camera = NULL;
    BYTE gamma = 0, contrast = 0, group = 9, saturation = 0;
    BOOL mono = FALSE, enabled = FALSE;
    int size = -1;
    LONG rowTime = 0;
    if (FAILED(object->lpVtbl->QueryInterface(object, &IID_IKV20X, (void **)&camera)))
        return 1;
    if (FAILED(IKV20X_SetGamma(camera, 123)) || FAILED(IKV20X_GetGamma(camera, &gamma)) || gamma != 123)
        return 2;
    if (FAILED(IKV20X_SetContrast(camera, 45)) || FAILED(IKV20X_GetContrast(camera, &contrast)) || contrast != 45)
        return 3;
    if (FAILED(IKV20X_SetMonoMode(camera, TRUE)) || FAILED(IKV20X_GetMonoMode(camera, &mono)) || !mono)
        return 4;
    if (FAILED(IKV20X_SetColorEnhancement(camera, FALSE, 77)) ||
        FAILED(IKV20X_GetColorEnhancement(camera, &enabled, &saturation)) || enabled || saturation != 77)
        return 5;
    if (FAILED(IKV20X_GetVideoSize(camera, &size)) || size != 1)
        return 6;
    if (FAILED(IKV20X_GetParameterGroup(camera, &group)) || group != 0)
        return 7;
    if (FAILED(IKV20X_GetRowTime(camera, &rowTime)) || rowTime != 85)
        return 8;
    IKV20X_Release(camera);
    return 0;
}
