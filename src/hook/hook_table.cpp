#include "hook/hook_table.h"

#ifdef _WIN32
// The stand-in host points the module's import of GetTickCount at its own clock
// after the load, which a pointer copied while the library loads would miss; the
// game never does, but the call through the import costs only on Windows.
static DWORD importedTickCount() { return GetTickCount(); }
#define TICK_COUNT importedTickCount
#else
#define TICK_COUNT GetTickCount
#endif

static void pushRecordPlain(UINT64 address, uint32_t, uint32_t) { nativePush64(address); }

const HookTable PlainHooks = {nativeInit, nativePush64, nativePush64, nativeCall, nativeCall,     nativeCall,
                              nativeCall, scriptWait,   getGlobalPtr, TICK_COUNT, pushRecordPlain};

void (*hookInit)(UINT64) = nativeInit;
void (*hookPush)(UINT64) = nativePush64;
void (*hookPushText)(UINT64) = nativePush64;
UINT64* (*hookCall)() = nativeCall;
UINT64* (*hookCall32)() = nativeCall;
UINT64* (*hookCall64)() = nativeCall;
UINT64* (*hookCallPosition)() = nativeCall;
void (*hookWait)(DWORD) = scriptWait;
UINT64* (*hookGlobalPtr)(int) = getGlobalPtr;
DWORD (*hookTickCount)() = TICK_COUNT;
void (*hookPushRecord)(UINT64, uint32_t, uint32_t) = pushRecordPlain;

static RecordPushSlot recordPushSlots[MaxRecordTypes];
static int recordPushSlotCount;

bool listRecordPush(void (**push)(UINT64), void (*recording)(UINT64)) {
    if (recordPushSlotCount < MaxRecordTypes) recordPushSlots[recordPushSlotCount++] = {push, recording};
    return true;
}

void setHooks(const HookTable& h, bool recording) {
    hookInit = h.init;
    hookPush = h.push;
    hookPushText = h.pushText;
    hookCall = h.call;
    hookCall32 = h.call32;
    hookCall64 = h.call64;
    hookCallPosition = h.callPosition;
    hookWait = h.wait;
    hookGlobalPtr = h.globalPtr;
    hookTickCount = h.tickCount;
    hookPushRecord = h.pushRecord;
    for (int k = 0; k < recordPushSlotCount; ++k)
        *recordPushSlots[k].push = recording ? recordPushSlots[k].recording : nativePush64;
}
