#include "framework/source_stream.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <evcode.h>

namespace kv20x {

CSourceStream::CSourceStream(HRESULT* result, CSource* filter, LPCWSTR pinName)
    : CAMThread(result), CBaseOutputPin(filter, filter->pStateLock(), result, pinName), m_source(filter)
{
    const HRESULT added = filter->AddPin(this);
    if (result && SUCCEEDED(*result))
        *result = added;
}

CSourceStream::~CSourceStream()
{
    m_source->RemovePin(this);
}

HRESULT CSourceStream::Active()
{
    AutoLock lock(*m_source->pStateLock());
    if (m_source->IsActive())
        return S_FALSE;
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    if (!Create()) {
        CBaseOutputPin::Inactive();  // decommits the allocator again
        return E_FAIL;
    }
    hr = static_cast<HRESULT>(CallWorker(CMD_INIT));
    if (FAILED(hr)) {
        // The worker has ended; without it joined and released, no later
        // pause could start a fresh one (a camera plugged in after the first
        // try would never stream).
        Close();
        CBaseOutputPin::Inactive();
        StopDownstreamFilters();
        return hr;
    }
    return static_cast<HRESULT>(CallWorker(CMD_PAUSE));
}

namespace {

// Stops the filter that `pin` belongs to, unless it is stopped already,
// and everything downstream of it. `visited` keeps a graph with a loop
// from being walked for ever.
void StopFromPin(IPin* pin, std::vector<IBaseFilter*>& visited)
{
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info)) || !info.pFilter)
        return;
    IBaseFilter* filter = info.pFilter;
    if (std::find(visited.begin(), visited.end(), filter) != visited.end() || visited.size() >= 64) {
        filter->Release();
        return;
    }
    visited.push_back(filter);
    FILTER_STATE state = State_Stopped;
    if (SUCCEEDED(filter->GetState(0, &state)) && state != State_Stopped)
        filter->Stop();
    IEnumPins* pins = nullptr;
    if (SUCCEEDED(filter->EnumPins(&pins)) && pins) {
        IPin* next = nullptr;
        while (pins->Next(1, &next, nullptr) == S_OK) {
            PIN_DIRECTION direction = PINDIR_INPUT;
            IPin* peer = nullptr;
            if (SUCCEEDED(next->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
                SUCCEEDED(next->ConnectedTo(&peer)) && peer) {
                StopFromPin(peer, visited);
                peer->Release();
            }
            next->Release();
        }
        pins->Release();
    }
    // `visited` only compares addresses from here on.
    filter->Release();
}

}  // namespace

// The graph pauses the filters downstream of a source before the source.
// When the source then refuses, a graph that does not stop them again (Wine's
// does not, and its Stop is then a no-op: the graph never left the stopped
// state) leaves them paused; they refuse to be disconnected, and teardowns
// that retry until a filter is removed (the graph's own release among them)
// never end. So a refused start stops the filters it would have fed, as a
// graph manager that rolls the pause back does itself.
void CSourceStream::StopDownstreamFilters()
{
    std::vector<IBaseFilter*> visited;
    StopFromPin(GetConnected(), visited);
}

HRESULT CSourceStream::Inactive()
{
    AutoLock lock(*m_source->pStateLock());
    if (!IsConnected())
        return S_OK;
    // Decommitting wakes a worker that waits for a free sample; the worker
    // itself is stopped by FinishInactive, without the state lock.
    return CBaseOutputPin::Inactive();
}

HRESULT CSourceStream::FinishInactive()
{
    if (!ThreadExists())
        return S_OK;
    // Stop, then exit, whatever the first answers: the exit is what makes the
    // worker close the device and end, and a worker that has ended answers
    // neither (CallWorker then returns at once).
    const auto stopped = static_cast<HRESULT>(CallWorker(CMD_STOP));
    const auto exited = static_cast<HRESULT>(CallWorker(CMD_EXIT));
    Close();
    return FAILED(stopped) ? stopped : exited;
}

DWORD CSourceStream::ThreadProc()
{
    DWORD command;
    while ((command = GetRequest()) != CMD_INIT)
        Reply(static_cast<DWORD>(E_UNEXPECTED));

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(S_OK);

    do {
        command = GetRequest();
        switch (command) {
        case CMD_PAUSE:
        case CMD_RUN:
            Reply(S_OK);
            DoBufferProcessingLoop();
            break;
        case CMD_STOP:
        case CMD_EXIT:
            Reply(S_OK);
            break;
        default:
            Reply(static_cast<DWORD>(E_NOTIMPL));
            break;
        }
    } while (command != CMD_EXIT);

    return FAILED(OnThreadDestroy()) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop()
{
    OnThreadStartPlay();
    for (;;) {
        DWORD command;
        if (CheckRequest(&command)) {
            if (command == CMD_STOP)
                return S_FALSE;  // answered by the command loop
            Reply(command == CMD_RUN || command == CMD_PAUSE ? S_OK : static_cast<DWORD>(E_UNEXPECTED));
            continue;
        }
        IMediaSample* sample = nullptr;
        if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) {
            ::Sleep(1);
            continue;
        }
        const HRESULT hr = FillBuffer(sample);
        if (hr == S_OK) {
            const HRESULT delivered = Deliver(sample);
            sample->Release();
            if (delivered != S_OK)
                return S_OK;
        } else if (hr == S_FALSE) {
            sample->Release();
            if (EndsStreamWhenNothingFilled()) {
                DeliverEndOfStream();
                return S_OK;
            }
        } else {
            sample->Release();
            DeliverEndOfStream();
            m_source->NotifyEvent(EC_ERRORABORT, hr, 0);
            return hr;
        }
    }
}

HRESULT CSourceStream::GetMediaType(CMediaType*)
{
    return E_UNEXPECTED;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* type)
{
    AutoLock lock(*m_source->pStateLock());
    CMediaType mine;
    if (FAILED(GetMediaType(&mine)))
        return E_FAIL;
    return mine == *type ? S_OK : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType* type)
{
    AutoLock lock(*m_source->pStateLock());
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(type);
}

HRESULT STDMETHODCALLTYPE CSourceStream::QueryId(LPWSTR* id)
{
    if (!id)
        return E_POINTER;
    const int number = m_source->FindPinNumber(this) + 1;
    if (number < 1)
        return VFW_E_NOT_FOUND;
    constexpr size_t kChars = 12;
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(kChars * sizeof(wchar_t)));
    if (!*id)
        return E_OUTOFMEMORY;
    if (std::swprintf(*id, kChars, L"%d", number) < 0)
        (*id)[0] = L'\0';
    return S_OK;
}

}  // namespace kv20x
