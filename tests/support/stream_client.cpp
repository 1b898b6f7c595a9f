// Streaming test client (see stream_client.h).
#include "stream_client.h"
#include <cstdio>

StreamClient::StreamClient(DRIVERPROC proc, DWORD channel, size_t count, DWORD bufferSize)
    : headers(count), buffers(count, std::vector<BYTE>(bufferSize, 0xEE)), proc(proc), channel(channel),
      closed(CreateEventA(NULL, TRUE, FALSE, NULL)), data(CreateEventA(NULL, FALSE, FALSE, NULL))
{
    InitializeCriticalSection(&lock);
    events.reserve(16384);
    added.reserve(16384);
    for (size_t i = 0; i < count; i++) {
        headers[i] = VIDEOHDR{};
        headers[i].lpData = buffers[i].data();
        headers[i].dwBufferLength = bufferSize;
        headers[i].dwTimeCaptured = TimeMark;
    }
}

StreamClient::~StreamClient()
{
    if (initialised) {
        Send(DVM_STREAM_STOP);
        Send(DVM_STREAM_FINI);
        bool opened = false;
        for (const StreamEvent &e : Events())
            opened = opened || e.message == MM_DRVM_OPEN;
        if (opened && !WaitForClose()) {
            // Freeing the record now would let the driver write into freed memory.
            std::printf("hang: the stream did not end within %lu ms of its stop and fini\n", HangMs);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    CloseHandle(closed);
    CloseHandle(data);
    DeleteCriticalSection(&lock);
}

DWORD StreamClient::Send(UINT message, LPARAM lParam1, LPARAM lParam2)
{
    return static_cast<DWORD>(proc(channel, reinterpret_cast<HDRVR>(0x4321), message, lParam1, lParam2));
}

DWORD StreamClient::Init(DWORD callbackFlags, DWORD_PTR callback)
{
    VIDEO_STREAM_INIT_PARMS parms = {40000, callback ? callback : reinterpret_cast<DWORD_PTR>(Callback),
                                     reinterpret_cast<DWORD_PTR>(this), callbackFlags, 0x4321};
    initialised = true;
    return Send(DVM_STREAM_INIT, reinterpret_cast<LPARAM>(&parms), sizeof parms);
}

DWORD StreamClient::Add(VIDEOHDR *header)
{
    header->dwFlags = ClientFlags;
    EnterCriticalSection(&lock);
    DWORD result = Send(DVM_STREAM_ADDBUFFER, reinterpret_cast<LPARAM>(header), sizeof *header);
    if (result == DV_ERR_OK)
        added.push_back(header);
    LeaveCriticalSection(&lock);
    return result;
}

DWORD StreamClient::AddAll()
{
    for (VIDEOHDR &header : headers)
        if (DWORD result = Add(&header))
            return result;
    return DV_ERR_OK;
}

void CALLBACK StreamClient::Callback(HDRVR, UINT message, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR)
{
    StreamClient &c = *reinterpret_cast<StreamClient *>(instance);
    VIDEOHDR *header = reinterpret_cast<VIDEOHDR *>(p1);
    EnterCriticalSection(&c.lock);
    c.events.push_back({message, header, header ? header->dwFlags : 0, header ? header->dwBytesUsed : 0});
    LeaveCriticalSection(&c.lock);
    if (message == MM_DRVM_DATA) {
        c.dataCount++;
        SetEvent(c.data);
        if (c.readdInCallback)
            c.Add(header);
    } else if (message == MM_DRVM_CLOSE) {
        SetEvent(c.closed);
    }
}

bool StreamClient::WaitForData(long count, DWORD ms)
{
    DWORD start = GetTickCount();
    while (dataCount < count) {
        DWORD spent = GetTickCount() - start;
        if (WaitForClose(0))
            return false;
        if (spent >= ms) {
            std::printf("hang: %ld of %ld frames within the watchdog of %lu ms\n", dataCount.load(), count, ms);
            return false;
        }
        HANDLE events[2] = {data, closed};
        WaitForMultipleObjects(2, events, FALSE, ms - spent);
    }
    return true;
}

bool StreamClient::WaitForClose(DWORD ms)
{
    if (WaitForSingleObject(closed, ms) == WAIT_OBJECT_0)
        return true;
    if (ms)
        std::printf("hang: no MM_DRVM_CLOSE within the watchdog of %lu ms\n", ms);
    return false;
}

std::vector<StreamEvent> StreamClient::Events()
{
    EnterCriticalSection(&lock);
    std::vector<StreamEvent> copy = events;
    LeaveCriticalSection(&lock);
    return copy;
}

std::vector<VIDEOHDR *> StreamClient::Added()
{
    EnterCriticalSection(&lock);
    std::vector<VIDEOHDR *> copy = added;
    LeaveCriticalSection(&lock);
    return copy;
}

void StreamClient::Forget()
{
    EnterCriticalSection(&lock);
    events.clear();
    added.clear();
    LeaveCriticalSection(&lock);
}
