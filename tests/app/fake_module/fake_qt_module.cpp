// Stand-ins for plotmint-convert-qt that the converter must refuse without calling them: one
// of another build, and (PLOTMINT_FAKE_NO_WRITER) one without the writer.
#include <cstdlib>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT const char* plotmint_qt_stamp() { return "plotmint 0.0.0, module revision 0, another compiler"; }

#ifndef PLOTMINT_FAKE_NO_WRITER
// Never to be reached: a converter that called it would end with this unusual status.
FAKE_EXPORT int plotmint_qt_write(const void*, const char**) { std::_Exit(99); }
FAKE_EXPORT void plotmint_qt_finish() { std::_Exit(99); }
#endif
