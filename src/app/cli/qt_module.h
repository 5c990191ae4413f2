#pragma once
// The converter's way to its PDF and PNG writers, which live in a module of their own
// (plotmint-convert-qt) with the Qt libraries they need: loaded on the first PDF or PNG, so
// every other run starts without them.
#include <string>
#include <vector>

#include "app/export/picture_format.h"

namespace plotmint {

struct EmfPicture;

// Where the module is looked for, in this order: beside the program (a build tree, an
// unpacked copy), then the private library folder of an installed program.
std::vector<std::string> qt_module_candidates(const std::string& program_dir);

class QtPictureWriter {
public:
    explicit QtPictureWriter(std::string program_dir) : program_dir_(std::move(program_dir)) {}
    // Ends the Qt application the module started, as the converter finishes.
    ~QtPictureWriter();
    QtPictureWriter(const QtPictureWriter&) = delete;
    QtPictureWriter& operator=(const QtPictureWriter&) = delete;

    enum class Result {
        written,
        failed,        // the writer's reason is in `error`
        unavailable,   // the module cannot be loaded or is of another build; `error` says why
    };
    // Writes `picture` to `output` as a PDF or PNG, whole or not at all. Loads the module on
    // the first call; when that fails, every call answers unavailable with the same reason.
    // Running out of memory in the module is thrown here as std::bad_alloc, as when the
    // writers were part of the program.
    Result write(const EmfPicture& picture, PictureFormat format, const std::string& output, const PngSizing& sizing,
                 std::string& error);

private:
    bool load();

    std::string program_dir_;
    bool tried_ = false;
    std::string load_error_;
    void* write_ = nullptr;   // PlotmintQtWriteFn
    void* finish_ = nullptr;  // PlotmintQtFinishFn
};

}  // namespace plotmint
