#pragma once
// An output pin with a worker thread of its own that produces and delivers
// samples. A subclass fills the samples and may replace the frame loop and
// the per-thread hooks.
//
// Locking: Active and Inactive run under the filter's state lock; Active
// talks to the worker through CAMThread's one-command protocol before the
// frame loop starts. The worker runs the frame loop without the state lock,
// but what it calls downstream may take it (a callback asking the pin for
// its media type), so the stop waits for the worker in FinishInactive,
// after the state lock was given up (base_filter.h).

#include "framework/am_thread.h"
#include "framework/base_pin.h"
#include "framework/source.h"

namespace kv20x {

class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    CSourceStream(HRESULT* result, CSource* filter, LPCWSTR pinName);
    ~CSourceStream() override;

    DWORD ThreadProc() override;

    // Fills one sample: S_OK delivers it; S_FALSE ends the stream or skips
    // the sample (EndsStreamWhenNothingFilled); a failure ends it with an error.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }
    virtual HRESULT DoBufferProcessingLoop();
    // Whether a FillBuffer that answers S_FALSE ends the stream (here, with
    // end-of-stream downstream) or only skips the sample.
    virtual bool EndsStreamWhenNothingFilled() const { return true; }
    // The single type of a pin that offers one.
    virtual HRESULT GetMediaType(CMediaType* type);

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT FinishInactive() override;
    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

protected:
    CSource* m_source;

private:
    // After a refused start: the filters downstream, paused by the graph
    // just before, back to stopped.
    void StopDownstreamFilters();
};

}  // namespace kv20x
