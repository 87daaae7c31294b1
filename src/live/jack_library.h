#ifndef STAMPLINE_LIVE_JACK_LIBRARY_H_
#define STAMPLINE_LIVE_JACK_LIBRARY_H_

#include <cstdint>
#include <string>

namespace stampline {

// The JACK library's functions that live output uses, loaded when a run
// needs them (libjack.so.0: JACK 2's, or PipeWire's in its place), so that
// the program starts and writes files on a machine without it. The
// declarations are JACK's C interface, which has kept them since JACK 1.
struct JackLibrary {
  struct Client;  // jack_client_t
  struct Port;    // jack_port_t
  struct LatencyRange {
    uint32_t min;
    uint32_t max;
  };
  using Process = int (*)(uint32_t frames, void* arg);
  using Shutdown = void (*)(int status, const char* reason, void* arg);
  using Notify = int (*)(void* arg);
  using FramesChanged = int (*)(uint32_t frames, void* arg);
  using Message = void (*)(const char* text);
  using ThreadInit = void (*)(void* arg);

  // Options, statuses, port flags and latency modes as JACK numbers them.
  static constexpr int kNoStartServer = 0x01;
  static constexpr int kUseExactName = 0x02;
  static constexpr int kFailure = 0x01;
  static constexpr int kNameNotUnique = 0x04;
  static constexpr int kServerFailed = 0x10;
  static constexpr unsigned long kPortIsInput = 0x1;
  static constexpr unsigned long kPortIsOutput = 0x2;
  static constexpr int kPlaybackLatency = 1;
  static constexpr const char* kAudioType = "32 bit float mono audio";

  Client* (*clientOpen)(const char* name, int options, int* status, ...);
  int (*clientClose)(Client*);
  const char* (*clientName)(Client*);
  int (*setProcess)(Client*, Process, void*);
  int (*setThreadInit)(Client*, ThreadInit, void*);
  void (*onInfoShutdown)(Client*, Shutdown, void*);
  int (*setXrun)(Client*, Notify, void*);
  int (*setBufferSize)(Client*, FramesChanged, void*);
  int (*setSampleRate)(Client*, FramesChanged, void*);
  Port* (*portRegister)(Client*, const char* name, const char* type, unsigned long flags, unsigned long bufferSize);
  void* (*portBuffer)(Port*, uint32_t frames);
  const char* (*portName)(const Port*);
  Port* (*portByName)(Client*, const char* name);
  int (*portFlags)(const Port*);
  void (*portLatency)(Port*, int mode, LatencyRange*);
  int (*connect)(Client*, const char* source, const char* destination);
  int (*activate)(Client*);
  int (*deactivate)(Client*);
  uint32_t (*sampleRate)(Client*);
  uint32_t (*bufferSize)(Client*);
  int (*cycleTimes)(const Client*, uint32_t* frames, uint64_t* startMicros, uint64_t* nextMicros, float* periodMicros);
  uint64_t (*time)();
  void (*setErrorFunction)(Message);
  void (*setInfoFunction)(Message);
};

// Loads the library and its functions; on failure returns false and says
// why in `why`.
bool loadJackLibrary(JackLibrary& jack, std::string& why);

}  // namespace stampline

#endif  // STAMPLINE_LIVE_JACK_LIBRARY_H_
