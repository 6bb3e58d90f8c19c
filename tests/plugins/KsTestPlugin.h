#pragma once

// What our test plug-ins export besides their entry point, so that tests can
// see every call the host made and make the plug-in call the host back.

#include "vst2.h"

#if defined(_WIN32)
#define KS_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define KS_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// One dispatcher call as the plug-in received it. Private entry points are
// logged with the negative pseudo-opcodes below.
struct KsTestCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
    char text[48]; // the string of effCanDo, the first bytes of effSetChunk
    bool ptrGiven; // the call came with a non-null pointer
};

enum KsTestPseudoOpcode : VstInt32 {
    ksTestShowAbout = -1,
    ksTestShowHelp = -2,
    ksTestExtraCommand = -3,
    ksTestKeyFocusAsked = -4,
};

// A call the plug-in makes to the host during its next processReplacing.
// For audioMasterProcessEvents it sends one MIDI event of `midi` (and first a
// SysEx event when `withSysex` is set, or only that when `sysexOnly` is set).
struct KsTestHostRequest {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
    unsigned char midi[3];
    bool withSysex;
    bool sysexOnly;
};

constexpr int kKsTestRecordedChannels = 64;

struct KsTestProcessInfo {
    int processCalls;
    int lastFrames;
    bool inputsAreOutputs;
    // Entries 0..7 of the array the host passed, and further ones up to the
    // declared counts.
    float* channelPointers[kKsTestRecordedChannels];
    // The sum of each input, read after every output was written: an input
    // that shares its buffer with an output shows the output.
    double inputSums[8];
    bool hadTimeInfo;     // audioMasterGetTime answered during the block
    VstTimeInfo timeInfo; // a copy of what it pointed to
    VstIntPtr lastRequestResult;
};

using KsTestCallCountProc = int (*)(AEffect*);
using KsTestCallsProc = int (*)(AEffect*, KsTestCall* out, int max);
using KsTestClearCallsProc = void (*)(AEffect*);
using KsTestCallHostProc = VstIntPtr (*)(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                         void* ptr, float opt);
using KsTestQueueHostCallProc = int (*)(AEffect*, const KsTestHostRequest*);
using KsTestProcessInfoProc = void (*)(AEffect*, KsTestProcessInfo*);
using KsTestReceivedEventsProc = int (*)(AEffect*, VstMidiEvent* out, int max);
using KsTestEntryTimeAnswerProc = VstIntPtr (*)();
using KsTestSetKeyFocusProc = void (*)(AEffect*, bool);
// What the plug-in answers to effEditKeyDown and effEditKeyUp (0 at first).
using KsTestSetKeyAnswerProc = void (*)(AEffect*, VstIntPtr);
// Changes the plug-in's declared channel counts, as a plug-in does before it
// tells the host audioMasterIOChanged.
using KsTestSetChannelsProc = void (*)(AEffect*, VstInt32 inputs, VstInt32 outputs);
using KsTestScribbleProc = void (*)(AEffect*);
// Plug-ins made from now on answer effEditGetRect with no rectangle until
// their editor is open.
using KsTestSizeUnknownUntilOpenProc = void (*)(bool unknown);
// Runs `hook` (once) inside the next call of `opcode`, as a plug-in that
// runs the window thread's messages there (a box of its own, say).
using KsTestSetCallHookProc = void (*)(AEffect*, VstInt32 opcode, void (*hook)(void*), void* user);
// The log of the plug-in closed last (effClose included).
using KsTestClosedCallsProc = int (*)(KsTestCall* out, int max);
