#include "app/cli/qt_module.h"

#include <cstring>
#include <filesystem>
#include <new>

#include "app/export/convert_qt_module.h"
#include "base/format.h"
#include "base/platform.h"

#ifndef PLOTMINT_QT_MODULE_INSTALL_DIR
#error "the build names the module's folder relative to the installed program's"
#endif

namespace plotmint {

namespace {

constexpr const char* kQtModuleFile = "plotmint-convert-qt.so";

template <typename Fn>
Fn as_function(void* address) {
    Fn fn;
    static_assert(sizeof fn == sizeof address);
    std::memcpy(&fn, &address, sizeof fn);
    return fn;
}

}  // namespace

std::vector<std::string> qt_module_candidates(const std::string& program_dir) {
    const std::filesystem::path dir(program_dir);
    return {(dir / kQtModuleFile).string(),
            (dir / PLOTMINT_QT_MODULE_INSTALL_DIR / kQtModuleFile).lexically_normal().string()};
}

QtPictureWriter::~QtPictureWriter() {
    if (finish_) as_function<PlotmintQtFinishFn>(finish_)();
}

bool QtPictureWriter::load() {
    if (tried_) return write_ != nullptr;
    tried_ = true;
    const std::vector<std::string> candidates = qt_module_candidates(program_dir_);
    // The first one there is taken; when it cannot be loaded, the system's reason (a missing
    // Qt library, say) is what the user needs, not that the next place has none.
    std::string path;
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) {
        std::string places;
        for (const std::string& candidate : candidates)
            places += (places.empty() ? "" : " nor ") + std::filesystem::path(candidate).parent_path().string();
        load_error_ = strformat("%s is in neither %s", kQtModuleFile, places.c_str());
        return false;
    }
    void* module = platform::open_module(path, load_error_);
    if (!module) return false;
    void* entries[3] = {};
    const char* const names[3] = {kQtStampSymbol, kQtWriteSymbol, kQtFinishSymbol};
    for (int i = 0; i < 3; ++i) {
        std::string reason;
        entries[i] = platform::module_symbol(module, names[i], reason);
        if (!entries[i]) {
            load_error_ = strformat("%s has no %s", path.c_str(), names[i]);
            return false;
        }
    }
    void* const stamp = entries[0];
    const char* built = as_function<PlotmintQtStampFn>(stamp)();
    if (std::strcmp(built, kQtModuleStamp) != 0) {
        load_error_ = strformat("%s is of another build (%s; this program: %s)", path.c_str(), built, kQtModuleStamp);
        return false;
    }
    write_ = entries[1];
    finish_ = entries[2];
    return true;
}

QtPictureWriter::Result QtPictureWriter::write(const EmfPicture& picture, PictureFormat format,
                                               const std::string& output, const PngSizing& sizing, std::string& error) {
    if (!load()) {
        error = load_error_;
        return Result::unavailable;
    }
    PlotmintQtWrite request{};
    request.struct_size = sizeof request;
    request.picture_size = sizeof picture;
    request.picture = &picture;
    request.format = static_cast<int>(format);
    request.output = output.c_str();
    request.dpi = sizing.dpi;
    request.width = sizing.width;
    request.height = sizing.height;
    const char* reason = nullptr;
    switch (as_function<PlotmintQtWriteFn>(write_)(&request, &reason)) {
        case plotmint_qt_written: return Result::written;
        case plotmint_qt_out_of_memory: throw std::bad_alloc();
        default: break;
    }
    error = reason ? reason : "the Qt module gave no reason";
    return Result::failed;
}

}  // namespace plotmint
