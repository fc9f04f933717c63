/*
 * Simulated camera driver, kernel mode: serves \\.\vx41k-0 with the camera's
 * driver protocol (vendor requests, pipe arm, bulk reads framed into raw
 * frames) from the shared camera model, paced by the sensor's programmed
 * frame time. Lets the unmodified module stream on a machine with no camera.
 *
 * Locking: state->lock (a spin lock) guards the model, the queue of pending
 * reads and the list of held control requests. Reads complete in the order
 * queued, from the pacing thread; completions happen outside the lock. A
 * pending request leaves its list exactly once: taken by the pacing thread
 * (after its cancel routine was cleared), by its cancel routine, by the
 * release of held control requests, or by the flush at close.
 *
 * Wine's device host sends no IRP_MJ_CLEANUP and delivers IRP_MJ_CLOSE while
 * reads are still pending, so CLOSE flushes the file's reads too.
 */

#include <ntddk.h>

#include "camera_model_c.h"
#include "simdriver_ioctl.h"

#define IOCTL_VENDOR_REQUEST 0x222059u
#define IOCTL_PIPE_ARM 0x22208Au
#define POOL_TAG 0x6D43764Bu /* 'KvCm' */
#define IDLE_POLL_MS 50

NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

typedef struct DeviceState {
    KSPIN_LOCK lock;
    LIST_ENTRY reads;
    LIST_ENTRY heldControls; /* control requests of a camera that does not answer */
    KEVENT wake;
    HANDLE thread;
    volatile LONG stopping;
    volatile LONG requestingOpens; /* the statistics of IOCTL_SIMCAM_STATS */
    volatile LONG controls;
    volatile LONG readCount;
    void *model;
    uint8_t *scene;
    LARGE_INTEGER frequency;
    LARGE_INTEGER epoch;
} DeviceState;

static PDEVICE_OBJECT g_device;

static DeviceState *StateOf(PDEVICE_OBJECT device)
{
    return (DeviceState *)device->DeviceExtension;
}

/* Microseconds since the driver started. */
static uint64_t NowUs(DeviceState *state)
{
    LARGE_INTEGER now = KeQueryPerformanceCounter(NULL);
    const uint64_t ticks = (uint64_t)(now.QuadPart - state->epoch.QuadPart);
    const uint64_t frequency = (uint64_t)state->frequency.QuadPart;
    return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* The cancel routine of a pending read or held control request. */
static VOID NTAPI CancelPending(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceState *state = StateOf(device);
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&state->lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    InitializeListHead(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&state->lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

/* Completes, in order, every read the model can serve now; returns how long
 * the pacing thread may sleep before the next one can be. */
static LONGLONG ServeReads(DeviceState *state)
{
    LIST_ENTRY done;
    LONGLONG waitUs = IDLE_POLL_MS * 1000;
    KIRQL irql;
    InitializeListHead(&done);
    KeAcquireSpinLock(&state->lock, &irql);
    while (!IsListEmpty(&state->reads)) {
        PLIST_ENTRY entry = state->reads.Flink;
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        uint8_t *buffer = irp->MdlAddress ? (uint8_t *)MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority)
                                          : NULL;
        uint32_t bytes = 0;
        uint64_t readyAt = 0;
        const uint64_t now = NowUs(state);
        int outcome = buffer ? simcam_model_read(state->model, buffer, stack->Parameters.Read.Length, now, &bytes,
                                                 &readyAt)
                             : SIMCAM_READ_FAILED;
        if (outcome == SIMCAM_READ_NOT_YET) {
            waitUs = (LONGLONG)(readyAt - now);
            break;
        }
        if (outcome == SIMCAM_READ_STALLED)
            break;
        RemoveEntryList(entry);
        InitializeListHead(entry);
        if (IoSetCancelRoutine(irp, NULL) == NULL)
            continue; /* its cancel routine owns it now */
        irp->IoStatus.Status = outcome == SIMCAM_READ_DONE ? STATUS_SUCCESS : STATUS_DEVICE_NOT_CONNECTED;
        irp->IoStatus.Information = outcome == SIMCAM_READ_DONE ? bytes : 0;
        InsertTailList(&done, entry);
    }
    KeReleaseSpinLock(&state->lock, irql);
    while (!IsListEmpty(&done)) {
        PLIST_ENTRY entry = RemoveHeadList(&done);
        IoCompleteRequest(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), IO_NO_INCREMENT);
    }
    return waitUs > 0 ? waitUs : 0;
}

static VOID NTAPI PacingThread(PVOID context)
{
    DeviceState *state = (DeviceState *)context;
    while (!state->stopping) {
        const LONGLONG waitUs = ServeReads(state);
        LARGE_INTEGER timeout;
        timeout.QuadPart = -(waitUs * 10 + 1); /* relative, 100 ns units */
        KeWaitForSingleObject(&state->wake, Executive, KernelMode, FALSE, &timeout);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* Completes every request of `list` from `file` (all when null) with
 * `status`. */
static void FlushList(DeviceState *state, PLIST_ENTRY list, PFILE_OBJECT file, NTSTATUS status)
{
    LIST_ENTRY flushed;
    PLIST_ENTRY entry;
    KIRQL irql;
    InitializeListHead(&flushed);
    KeAcquireSpinLock(&state->lock, &irql);
    entry = list->Flink;
    while (entry != list) {
        PLIST_ENTRY next = entry->Flink;
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if ((!file || IoGetCurrentIrpStackLocation(irp)->FileObject == file) && IoSetCancelRoutine(irp, NULL)) {
            RemoveEntryList(entry);
            InsertTailList(&flushed, entry);
        }
        entry = next;
    }
    KeReleaseSpinLock(&state->lock, irql);
    while (!IsListEmpty(&flushed)) {
        entry = RemoveHeadList(&flushed);
        Complete(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), status, 0);
    }
}

/* Every pending request of `file` (all when null), as cancelled. */
static void FlushReads(DeviceState *state, PFILE_OBJECT file)
{
    FlushList(state, &state->reads, file, STATUS_CANCELLED);
    FlushList(state, &state->heldControls, file, STATUS_CANCELLED);
}

/* Queues a request on `list` as pending, or completes it at once when it was
 * cancelled already; releases the lock taken at `irql`. */
static void HoldPending(DeviceState *state, PLIST_ENTRY list, PIRP irp, KIRQL irql)
{
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelPending);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) {
        KeReleaseSpinLock(&state->lock, irql);
        Complete(irp, STATUS_CANCELLED, 0);
        return;
    }
    InsertTailList(list, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&state->lock, irql);
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    FlushReads(StateOf(device), IoGetCurrentIrpStackLocation(irp)->FileObject);
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceState *state = StateOf(device);
    KIRQL irql;
    InterlockedIncrement(&state->readCount);
    KeAcquireSpinLock(&state->lock, &irql);
    HoldPending(state, &state->reads, irp, irql);
    KeSetEvent(&state->wake, 0, FALSE);
    return STATUS_PENDING;
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    DeviceState *state = StateOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputBytes = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputBytes = stack->Parameters.DeviceIoControl.OutputBufferLength;
    const uint8_t *input = (const uint8_t *)irp->AssociatedIrp.SystemBuffer;
    uint8_t reply[3] = {0, 0, 0};
    uint32_t returned = 0;
    int ok;
    KIRQL irql;

    if (code == IOCTL_SIMCAM_CONFIGURE) {
        if (!input || inputBytes < sizeof(SimcamFaultConfig))
            return Complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&state->lock, &irql);
        simcam_model_configure(state->model, (const SimcamFaultConfig *)input);
        KeReleaseSpinLock(&state->lock, irql);
        /* Requests held by a camera that now answers again fail late. */
        FlushList(state, &state->heldControls, NULL, STATUS_IO_TIMEOUT);
        KeSetEvent(&state->wake, 0, FALSE);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    if (code == IOCTL_SIMCAM_STATS) {
        SimcamStats *stats = (SimcamStats *)irp->AssociatedIrp.SystemBuffer;
        if (!stats || outputBytes < sizeof(SimcamStats))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        stats->requestingOpens = (unsigned int)state->requestingOpens;
        stats->controls = (unsigned int)state->controls;
        stats->reads = (unsigned int)state->readCount;
        return Complete(irp, STATUS_SUCCESS, sizeof(SimcamStats));
    }
    if ((code != IOCTL_VENDOR_REQUEST && code != IOCTL_PIPE_ARM) || !input || outputBytes > sizeof reply)
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    /* A handle's first camera request marks it as one that asked something. */
    InterlockedIncrement(&state->controls);
    if (stack->FileObject && !stack->FileObject->FsContext2) {
        stack->FileObject->FsContext2 = (PVOID)1;
        InterlockedIncrement(&state->requestingOpens);
    }

    KeAcquireSpinLock(&state->lock, &irql);
    if (simcam_model_controls_hang(state->model)) {
        HoldPending(state, &state->heldControls, irp, irql);
        return STATUS_PENDING;
    }
    ok = simcam_model_control(state->model, code, input, inputBytes, reply, outputBytes, &returned, NowUs(state));
    KeReleaseSpinLock(&state->lock, irql);
    KeSetEvent(&state->wake, 0, FALSE);
    if (!ok)
        return Complete(irp, STATUS_UNSUCCESSFUL, 0);
    if (returned > 0) {
        uint8_t *output = irp->MdlAddress ? (uint8_t *)MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority)
                                          : NULL;
        ULONG i;
        if (!output)
            return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        for (i = 0; i < returned; ++i)
            output[i] = reply[i];
    }
    return Complete(irp, STATUS_SUCCESS, returned);
}

static VOID NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    DeviceState *state = StateOf(g_device);
    (void)driver;
    InterlockedExchange(&state->stopping, 1);
    KeSetEvent(&state->wake, 0, FALSE);
    if (state->thread) {
        ZwWaitForSingleObject(state->thread, FALSE, NULL);
        ZwClose(state->thread);
    }
    FlushReads(state, NULL);
    RtlInitUnicodeString(&link, L"\\DosDevices\\vx41k-0");
    IoDeleteSymbolicLink(&link);
    if (state->scene)
        ExFreePool(state->scene);
    if (state->model)
        ExFreePool(state->model);
    IoDeleteDevice(g_device);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry)
{
    UNICODE_STRING name, link;
    DeviceState *state;
    NTSTATUS status;
    (void)registry;

    RtlInitUnicodeString(&name, L"\\Device\\vx41k-0");
    status = IoCreateDevice(driver, sizeof(DeviceState), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_device);
    if (!NT_SUCCESS(status))
        return status;
    g_device->Flags |= DO_DIRECT_IO;
    state = StateOf(g_device);
    RtlZeroMemory(state, sizeof *state);
    KeInitializeSpinLock(&state->lock);
    InitializeListHead(&state->reads);
    InitializeListHead(&state->heldControls);
    KeInitializeEvent(&state->wake, SynchronizationEvent, FALSE);
    state->epoch = KeQueryPerformanceCounter(&state->frequency);
    state->model = ExAllocatePoolWithTag(NonPagedPool, simcam_model_bytes(), POOL_TAG);
    state->scene = (uint8_t *)ExAllocatePoolWithTag(NonPagedPool, SIMCAM_SCENE_BYTES, POOL_TAG);
    if (!state->model || !state->scene) {
        if (state->model)
            ExFreePool(state->model);
        if (state->scene)
            ExFreePool(state->scene);
        IoDeleteDevice(g_device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    simcam_model_init(state->model, state->scene);

    RtlInitUnicodeString(&link, L"\\DosDevices\\vx41k-0");
    status = IoCreateSymbolicLink(&link, &name);
    if (NT_SUCCESS(status))
        status = PsCreateSystemThread(&state->thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, PacingThread, state);
    if (!NT_SUCCESS(status)) {
        IoDeleteSymbolicLink(&link);
        ExFreePool(state->model);
        ExFreePool(state->scene);
        IoDeleteDevice(g_device);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchClose;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = DriverUnload;
    g_device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
