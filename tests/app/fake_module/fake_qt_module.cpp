// Stand-ins for plotmint-convert-qt, one per PLOTMINT_FAKE_MODE:
//   other_build  a module of another build, which the converter must refuse without calling it
//   no_writer    one without the writer
//   oom_status   of this build, its writer reporting that memory ran out
//   oom_through  of this build, its writer throwing std::bad_alloc through a frame that cannot
//                pass it on, as Qt's writers do: the converter's terminate handler must catch it
#include <cstdlib>
#include <new>

#include "app/export/convert_qt_module.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

#define other_build 1
#define no_writer 2
#define oom_status 3
#define oom_through 4

#if PLOTMINT_FAKE_MODE == other_build || PLOTMINT_FAKE_MODE == no_writer
FAKE_EXPORT const char* plotmint_qt_stamp() { return "plotmint 0.0.0, module revision 0, another compiler"; }
#else
FAKE_EXPORT const char* plotmint_qt_stamp() { return plotmint::kQtModuleStamp; }
#endif

#if PLOTMINT_FAKE_MODE == oom_through
namespace {

[[noreturn]] void run_out() { throw std::bad_alloc(); }
void cannot_pass_it_on() noexcept { run_out(); }

}  // namespace
#endif

#if PLOTMINT_FAKE_MODE != no_writer
FAKE_EXPORT int plotmint_qt_write(const plotmint::PlotmintQtWrite*, const char**) {
#if PLOTMINT_FAKE_MODE == oom_status
    return plotmint::plotmint_qt_out_of_memory;
#elif PLOTMINT_FAKE_MODE == oom_through
    cannot_pass_it_on();
    return plotmint::plotmint_qt_failed;
#else
    // Never to be reached: a converter that called it would end with this unusual status.
    std::_Exit(99);
#endif
}
FAKE_EXPORT void plotmint_qt_finish() {
#if PLOTMINT_FAKE_MODE == other_build
    std::_Exit(99);
#endif
}
#endif
