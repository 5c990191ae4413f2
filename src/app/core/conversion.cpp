#include "app/core/conversion.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/format.h"
#include "base/platform.h"
#include "graph/extent_fold.h"
#include "metafile/call_log.h"
#include "metafile/emf_follower.h"
#include "metafile/emf_writer.h"
#include "metafile/surface.h"

namespace plotmint {

namespace {

// Standard error as the Hershey layout writes it: the text as is, its own "\n" included.
class RawStderr final : public LogSink {
public:
    void log_line(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }
};

// The picture's bytes go to the file sink, but closing the writer only hands them to the
// system: the commit (sync, rename, folder sync) is left to commit_while_checking. While the
// passes draw, the worker starts the disk writing every megabyte and syncs every few, so
// that the sync before the rename finds little left to write.
class DeferredCommit final : public ByteSink {
public:
    DeferredCommit(FileSink& file, Worker& worker) : file_(file), worker_(worker) {}
    // A sync under way ends before the sink it syncs goes.
    ~DeferredCommit() override { worker_.wait(); }
    DeferredCommit(const DeferredCommit&) = delete;
    DeferredCommit& operator=(const DeferredCommit&) = delete;
    bool write(const void* data, size_t size) override {
        if (!file_.write(data, size)) return false;
        unsynced_ += size;
        unstarted_ += size;
        if (unstarted_ >= kWritebackStep && !syncing_.load(std::memory_order_acquire)) {
            // Between the syncs the disk is only asked to start writing, which costs the
            // worker no waiting; each sync then finds most of its bytes already on the way.
            const bool sync = unsynced_ >= kSyncStep;
            unstarted_ = 0;
            if (sync) unsynced_ = 0;
            syncing_.store(true, std::memory_order_relaxed);
            worker_.start([this, sync] {
                int err = 0;
                const bool ok = sync ? file_.sync_written(err) : file_.start_writeback(err);
                if (!ok && sync_error_ == 0) sync_error_ = err;
                syncing_.store(false, std::memory_order_release);
            });
        }
        return true;
    }
    bool patch(uint64_t offset, const void* data, size_t size) override { return file_.patch(offset, data, size); }
    bool commit() override { return file_.finish(); }
    std::string error() const override { return file_.error(); }
    // Waits for a sync under way; false when one failed, and the sink then fails as the
    // sync before the rename would have.
    bool synced() {
        worker_.wait();
        if (sync_error_ == 0) return true;
        file_.fail_sync(sync_error_);
        return false;
    }

private:
    static constexpr uint64_t kSyncStep = uint64_t{8} << 20;
    static constexpr uint64_t kWritebackStep = uint64_t{1} << 20;
    FileSink& file_;
    Worker& worker_;
    uint64_t unsynced_ = 0, unstarted_ = 0;
    std::atomic<bool> syncing_{false};
    int sync_error_ = 0;  // written by the worker's job, read after it has ended
};

// Commits `file` on the worker while this thread reads the picture back from the temporary
// file, opened before the commit starts so that the rename cannot come between: the bytes
// checked are the bytes that are put in place, and the waiting for the disk (the sync, and
// the rename that frees the old picture's blocks) is spent checking. With a `follower`, that
// has checked most of the file while the passes drew, only its end is left to check. The
// read-back's result is only used once the commit has succeeded; false, with the commit's
// reason in `error`, when it failed, as a commit inside EmfWriter::close() would have
// reported it.
bool commit_while_checking(Worker& worker, DeferredCommit& deferred, FileSink& file, EmfFollower* follower,
                           const PictureTarget& target, std::optional<EmfPicture>& picture,
                           std::string& picture_error, bool& checked, std::string& error) {
    if (!deferred.synced()) {
        error = file.error();
        return false;
    }
    // The file followed is only the one put in place if the temporary's name still leads to it.
    const bool followed = follower && follower->still_named();
    std::string reason;
    const int fd = followed ? -1 : platform::open_regular_file(file.temporary_path(), reason);
    bool committed = false;
    worker.start([&file, &committed] { committed = file.commit(); });
    if (followed) {
        picture = follower->result(target.path, picture_error);
    } else if (fd >= 0) {
        picture = target.keep_bytes ? read_emf_descriptor(fd, target.path, picture_error)
                                    : validate_emf_descriptor(fd, target.path, picture_error);
        platform::close_file(fd);
    }
    worker.wait();
    // Without the temporary to read, the picture is read back by name after the commit, as
    // without a worker.
    checked = followed || fd >= 0;
    if (!committed) error = file.error().empty() ? std::string("cannot finish the metafile") : file.error();
    return committed;
}

// Drawing calls gather in chunks of this many words (a quarter of a megabyte) and at most
// this many chunks wait for the writer: the pipe holds about a megabyte and a half at most.
constexpr size_t kCallChunkWords = size_t{1} << 16;
constexpr size_t kCallChunksWaiting = 4;

// Runs `draw` onto `writer`. With a worker that runs beside this thread, the passes draw
// here onto a call log whose chunks the worker replays onto the writer as they fill, so that
// building and writing the metafile's records (most of a pass's work) takes the other core;
// with an inline worker each chunk is replayed as soon as it is full. The writer receives the
// same calls in the same order either way. False when the call log could not be replayed,
// which would be a fault of this program: the picture is then incomplete.
template <class Draw>
bool draw_beside_writer(Worker* worker, Surface& writer, Draw&& draw) {
    if (!worker) {
        draw(writer);
        return true;
    }
    CallReplayer replayer(writer);
    bool replayed = true;
    const std::unique_ptr<WordChannel> channel = worker->concurrent() ? make_word_channel(kCallChunksWaiting) : nullptr;
    if (!channel) {
        CallEncoder encoder(kCallChunkWords, [&](std::vector<uint32_t>& words) {
            replayed = replayer.replay(words.data(), words.size()) && replayed;
        });
        draw(encoder);
        encoder.flush();
        return replayed;
    }
    worker->start([&replayer, &replayed, &channel] {
        std::vector<uint32_t> chunk;
        try {
            while (channel->take(chunk)) {
                if (!replayer.replay(chunk.data(), chunk.size())) {
                    replayed = false;
                    break;
                }
            }
        } catch (...) {
            channel->stop_taking();
            throw;
        }
        channel->stop_taking();
    });
    // Drawing that ends by an exception still lets the writer's thread finish before the
    // writer it uses goes; the drawing's exception is the one that is passed on.
    struct Join {
        Worker& worker;
        WordChannel& channel;
        bool armed = true;
        ~Join() {
            if (!armed) return;
            channel.close();
            try {
                worker.wait();
            } catch (...) {
            }
        }
    } join{*worker, *channel};
    CallEncoder encoder(kCallChunkWords, [&channel](std::vector<uint32_t>& words) { channel->put(words); });
    draw(encoder);
    encoder.flush();
    join.armed = false;
    channel->close();
    worker->wait();  // a failure on the writer's thread (memory) is passed on here
    return replayed;
}

}  // namespace

Conversion::Conversion(std::string graph_file) : Conversion(std::move(graph_file), std::nullopt) {}

Conversion::Conversion(std::string graph_file, std::optional<std::string> text)
    : graph_file_(std::move(graph_file)),
      text_(std::move(text)),
      halves_(std::make_unique<ExtentHalves>()),
      reader_(std::make_unique<RecordReader>()) {
    reader_->set_split_folds(&halves_->head, &halves_->tail);
    use_worker(make_worker());
}

void Conversion::use_worker(std::unique_ptr<Worker> worker) {
    worker_ = std::move(worker);
    reader_->set_worker(worker_.get());
    writer_worker_ = !worker_ ? nullptr : worker_->concurrent() ? make_worker() : make_inline_worker();
}

Conversion Conversion::of_text(std::string graph_text, std::string name) {
    return Conversion(std::move(name), std::move(graph_text));
}

Conversion::Conversion(Conversion&&) noexcept = default;
Conversion& Conversion::operator=(Conversion&&) noexcept = default;
Conversion::~Conversion() = default;

bool Conversion::open_source() {
    if (!text_) return reader_->open(graph_file_);
    reader_->open_memory(*text_);
    return true;
}

void Conversion::report(RunPass pass, uint64_t done, uint64_t total) const {
    if (progress_) progress_(RunProgress{pass, done, total});
}

void Conversion::find_color_tables(const std::string& table_dir, bool enabled, const DiscoveryCallbacks& show,
                                   LogSink& log) {
    find_color_table(graph_file_, *reader_, [this] { return open_source(); }, table_dir, enabled, show, log);
}

DrawRunResult Conversion::run(const Settings& settings, const PictureTarget& target, LogSink& log) {
    DrawRunResult result;
    // The graph file is closed on every path that ends the run.
    struct Close {
        RecordReader& reader;
        ~Close() { reader.close(); }
    } const close{*reader_};

    if (graph_file_.empty()) {
        log.log_line("File name is empty.");
        return result;
    }
    log.log_line(strformat("open %s.", graph_file_.c_str()));
    if (!open_source()) {
        log.log_line("Cannot open file.");
        if (reader_->refused_kind())
            log.log_line(strformat("%s is not a regular file.  nothing is drawn.", graph_file_.c_str()));
        return result;
    }
    // Writing the picture over the graph file would destroy the drawing it comes from.
    std::error_code same_ec;
    if (target.kind == PictureTarget::Kind::file && std::filesystem::equivalent(graph_file_, target.path, same_ec)) {
        log.log_line(strformat("%s is the graph file itself.  nothing is drawn.", target.path.c_str()));
        return result;
    }
    RecordReader& reader = *reader_;
    // The reader reports bytes; which pass they belong to, the passes say as they start.
    if (progress_)
        reader.set_progress([this](uint32_t, uint64_t done, uint64_t total) { report(pass_, done, total); });
    else
        reader.set_progress({});
    const PassStart on_pass = [this](RunPass pass) { pass_ = pass; };

    Extent& extent = result.extent;
    extent = Extent{};
    const uint64_t records = scan_extent(reader, extent, on_pass, halves_.get());
    if (reader.read_failed()) {
        log.log_line(strformat("cannot read %s: %s.", graph_file_.c_str(), reader.read_error().c_str()));
        return result;
    }
    if (reader.bad_item())
        log.log_line(strformat("item at byte %llu of the graph file is not an integer.  reading stops there.",
                               static_cast<unsigned long long>(reader.bad_item_offset())));
    // Text that stops being numbers before its first record is some other kind of file;
    // drawing it would replace the last picture with an empty one.
    if (reader.bad_item() && records == 0) {
        log.log_line(strformat("%s is not a graph file.  nothing is drawn.", graph_file_.c_str()));
        return result;
    }
    log.log_line(strformat("xmin : %d", extent.xmin));
    log.log_line(strformat("xmax : %d", extent.xmax));
    log.log_line(strformat("ymin : %d", extent.ymin));
    log.log_line(strformat("ymax : %d", extent.ymax));

    result.picture_renewed = true;
    const int32_t margin = settings.widths.margin();
    log.log_line(strformat("margin : %d", margin));
    result.frame = picture_frame(extent, margin, settings.display);

    const auto palette = expand_tone_palette(settings.tone);
    if (!palette) {
        log.log_line("bug exist in setting tone_color.");
        return result;
    }
    result.tone_color = *palette;

    log.log_line("making metafile");
    RawStderr stderr_sink;
    LogSink& diagnostics = diagnostics_ ? *diagnostics_ : stderr_sink;
    auto draw = [&](Surface& surface) {
        result.rendered = true;
        result.abandoned = make_metafile(reader, extent, settings, *palette, surface, log, diagnostics, on_pass) ==
                           RenderOutcome::abandoned;
    };

    if (target.kind == PictureTarget::Kind::surface) {
        draw(*target.surface);
        log.log_line("making metafile end");
        return result;
    }

    bool written = false;
    uint64_t written_bytes = 0;
    MemorySink memory;
    // With a worker, the picture read back while the worker commits it: the result of the
    // read-back, kept until the commit is known to have succeeded.
    bool checked_early = false;
    std::optional<EmfPicture> early_picture;
    std::string early_error;
    {
        std::optional<FileSink> file;
        ByteSink* sink = &memory;
        if (target.kind == PictureTarget::Kind::file) {
            file.emplace(target.path);
            sink = &*file;
        }
        std::optional<DeferredCommit> deferred;
        if (file && worker_) sink = &deferred.emplace(*file, *worker_);
        // A line of its own checks the picture from the file as the passes write it.
        std::unique_ptr<Worker> follow_line;
        std::optional<EmfFollower> follower;
        if (deferred && file->ok() && (follow_line = make_worker()))
            follower.emplace(*file, *follow_line, target.keep_bytes);
        if (file && !file->ok()) {
            log.log_line(strformat("cannot write %s: %s", target.path.c_str(), file->error().c_str()));
        } else {
            EmfWriter writer(*sink, settings.display, result.frame);
            const bool replayed = draw_beside_writer(writer_worker_.get(), writer, draw);
            if (!replayed) {
                log.log_line(strformat("cannot write %s: the drawing calls could not be replayed", target.path.c_str()));
            } else if (reader.read_failed()) {
                // A pass lost part of the file: the picture would be incomplete, so it is
                // never committed and the old one stays.
                log.log_line(strformat("cannot read %s: %s.", graph_file_.c_str(), reader.read_error().c_str()));
            } else {
                written = writer.close();
                written_bytes = writer.size();
                std::string error = writer.error();
                if (written && deferred)
                    written = commit_while_checking(*worker_, *deferred, *file,
                                                    follower && follower->following() ? &*follower : nullptr, target,
                                                    early_picture, early_error, checked_early, error);
                if (!written) log.log_line(strformat("cannot write %s: %s", target.path.c_str(), error.c_str()));
            }
        }
    }
    log.log_line("making metafile end");
    // A picture that was not written must not be reported as drawn: the file on disk
    // would be the previous run's.
    if (!written) return result;

    std::string error;
    report(RunPass::read_back, 0, written_bytes);
    if (target.kind == PictureTarget::Kind::memory) {
        result.picture = read_emf(memory.bytes, error);
        if (!result.picture) result.written_bytes = std::move(memory.bytes);
    } else if (checked_early) {
        result.picture = std::move(early_picture);
        error = std::move(early_error);
    } else {
        result.picture = target.keep_bytes ? read_emf_file(target.path, error) : validate_emf_file(target.path, error);
    }
    report(RunPass::read_back, written_bytes, written_bytes);
    if (!result.picture) {
        result.read_error = error;
        return result;
    }
    log.log_line("draw finished.");
    result.finished = true;
    return result;
}

DiscoveryCallbacks tables_into(Settings& settings, const std::string& table_dir, LogSink& log) {
    return DiscoveryCallbacks{
        [&settings, table_dir, &log](const std::string& path) { read_tone_table(path, table_dir, settings.tone, log); },
        [&settings, table_dir, &log](const std::string& path) {
            read_line_color_table(path, table_dir, settings.line_color, log);
        }};
}

Rect preview_rect(const Extent& e, int32_t w, int32_t h) {
    auto div = [](int64_t a, int64_t b) { return static_cast<int32_t>(a / b); };
    return Rect{div(static_cast<int64_t>(w) * e.xmin, 5240), div(static_cast<int64_t>(h) * (7860 - static_cast<int64_t>(e.ymax)), 7860),
                div(static_cast<int64_t>(w) * e.xmax, 5240), div(static_cast<int64_t>(h) * (7860 - static_cast<int64_t>(e.ymin)), 7860)};
}

}  // namespace plotmint
