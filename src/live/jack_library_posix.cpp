#include "live/jack_library.h"

#include <dlfcn.h>

namespace stampline {
namespace {

// A function of the library as the pointer it is stored in.
template <typename F>
bool resolve(void* library, const char* name, F& function, std::string& why) {
  function = reinterpret_cast<F>(dlsym(library, name));
  if (function == nullptr) why = std::string("the JACK library has no ") + name;
  return function != nullptr;
}

}  // namespace

bool loadJackLibrary(JackLibrary& jack, std::string& why) {
  // Loaded once and kept for the life of the process.
  void* library = dlopen("libjack.so.0", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    why = "no JACK library on this machine (libjack.so.0: install libjack-jackd2-0, or pipewire-jack)";
    return false;
  }
  return resolve(library, "jack_client_open", jack.clientOpen, why) &&
         resolve(library, "jack_client_close", jack.clientClose, why) &&
         resolve(library, "jack_get_client_name", jack.clientName, why) &&
         resolve(library, "jack_set_process_callback", jack.setProcess, why) &&
         resolve(library, "jack_set_thread_init_callback", jack.setThreadInit, why) &&
         resolve(library, "jack_on_info_shutdown", jack.onInfoShutdown, why) &&
         resolve(library, "jack_set_xrun_callback", jack.setXrun, why) &&
         resolve(library, "jack_set_buffer_size_callback", jack.setBufferSize, why) &&
         resolve(library, "jack_set_sample_rate_callback", jack.setSampleRate, why) &&
         resolve(library, "jack_port_register", jack.portRegister, why) &&
         resolve(library, "jack_port_get_buffer", jack.portBuffer, why) &&
         resolve(library, "jack_port_name", jack.portName, why) &&
         resolve(library, "jack_port_by_name", jack.portByName, why) &&
         resolve(library, "jack_port_flags", jack.portFlags, why) &&
         resolve(library, "jack_port_get_latency_range", jack.portLatency, why) &&
         resolve(library, "jack_connect", jack.connect, why) &&
         resolve(library, "jack_activate", jack.activate, why) &&
         resolve(library, "jack_deactivate", jack.deactivate, why) &&
         resolve(library, "jack_get_sample_rate", jack.sampleRate, why) &&
         resolve(library, "jack_get_buffer_size", jack.bufferSize, why) &&
         resolve(library, "jack_get_cycle_times", jack.cycleTimes, why) &&
         resolve(library, "jack_get_time", jack.time, why) &&
         resolve(library, "jack_set_error_function", jack.setErrorFunction, why) &&
         resolve(library, "jack_set_info_function", jack.setInfoFunction, why);
}

}  // namespace stampline
