#pragma once
// The few operating-system calls the rest of the code needs, behind plain functions, so a
// port adds one implementation file (src/platform/) instead of conditionals everywhere.
// Paths are byte strings as the system takes them. Nothing here writes to a log: a failure
// comes back as a short reason ("not a regular file", or the system's own error text) for
// the caller to put into its usual message.
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace plotmint::platform {

// ---------------------------------------------------------------------------------------
// Reading

// The reason given for a path that names something other than a regular file.
inline constexpr const char* kNotARegularFile = "not a regular file";

// Opens an existing regular file for reading without ever waiting: a FIFO, a device, a
// directory or a socket is refused with "not a regular file" (a FIFO with no writer would
// otherwise block the open, or the first read, for good). Symbolic links are followed.
// Returns a descriptor (close-on-exec, blocking again once checked) or -1 with `error` set.
int open_regular_file(const std::string& path, std::string& error);
// The same as a stdio stream ("rb"); nullptr with `error` set.
std::FILE* fopen_regular_file(const std::string& path, std::string& error);

// Reads up to `size` bytes at `offset` without moving the descriptor's position, so passes
// over one file never disturb each other. Returns the bytes read (0 at the end), or -1 with
// errno set.
int64_t read_at(int fd, void* data, size_t size, uint64_t offset);
// Writes all of `data` at the descriptor's position, through short writes and
// interruptions; false with errno set.
bool write_all(int fd, const void* data, size_t size);
void close_file(int fd);

// A descriptor of this module as a stdio stream ("rb", "wb"): always binary, since a
// picture's bytes must reach the disk as they are. nullptr with errno set; the descriptor
// then stays open.
std::FILE* stream_from(int fd, const char* mode);
// The descriptor under a stream, for keep_permissions and the like.
int stream_descriptor(std::FILE* stream);
// Moves a stream to a 64-bit offset from its start, or to its end; false with errno set
// (EINVAL for an offset the system cannot take).
bool seek_stream(std::FILE* stream, uint64_t offset);
bool seek_stream_to_end(std::FILE* stream);
// Flushes the stream and then the file to disk; false with errno set.
bool flush_to_disk(std::FILE* stream);
// Starts writing to disk what of the stream's file has reached the system, without waiting
// for it, so that a later flush_to_disk() finds less to write. Does nothing (and says true)
// where the system or the file system has no such request; false with errno set when the
// writing could not be started.
bool start_writeback(std::FILE* stream);

// A read-write file in the system's temporary folder that no other process can open by
// name and that vanishes with its descriptor, also when the program is killed: scratch
// space that can never be left behind. -1 when none can be made.
int open_anonymous_temporary();

// ---------------------------------------------------------------------------------------
// File identity

struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// Identity of what `path` names, symbolic links followed; nullopt when it cannot be found.
std::optional<FileId> file_id(const std::string& path);
// True when both paths exist and name one file (hard links, symbolic links and different
// spellings included), e.g. an output that would overwrite its own input.
bool same_file(const std::string& a, const std::string& b);

// Identity and change stamp of a file: equal stamps mean the same file, not written to (nor
// its size or permissions changed) in between, as far as the file system can tell.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t mtime_ns = 0;  // last write
    int64_t ctime_ns = 0;  // last change of contents or attributes
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> file_stamp(int fd);
// By name, symbolic links followed: a file renamed over the one named is the one stamped.
std::optional<FileStamp> file_stamp(const std::string& path);

// True when `path` exists and, all symbolic links resolved, lies strictly inside `dir`
// (also resolved). A name planted in a folder that leads out of it answers false.
bool resolves_inside(const std::string& path, const std::string& dir);

// ---------------------------------------------------------------------------------------
// Replacing a file

// Where a new file for `path` has to be renamed to, or nullopt with `error` set when `path`
// exists and is not a regular file (a device such as /dev/null, a FIFO, a directory, a
// socket). A symbolic link is followed only when it leads to a regular file: the file it
// leads to is replaced and the link stays. A link to nothing or to anything else is
// refused, so writing never creates a file where a link points.
std::optional<std::string> replace_target(const std::string& path, std::string& error);

// A fresh temporary file beside `target`, created exclusively (O_EXCL) with a name no other
// user can guess: TARGET.plotmint-tmp-PID-RANDOM. The PID lets a later run tell a leftover
// of a dead process from one being written (see remove_stale_temporaries). The name is
// registered for removal on SIGINT, SIGTERM and SIGHUP until commit_temporary or
// discard_temporary. Mode 0666 through the umask, as an ordinary open would create it.
// Stale temporaries in the folder are removed first.
struct TempFile {
    int fd = -1;
    std::string path;
    int cleanup_slot = -1;  // where the signal handlers find the name; -1 when not registered
};
std::optional<TempFile> create_temporary(const std::string& target, std::string& error);

// Gives the temporary the permission bits (rwx for user, group and others) of the file it
// is about to replace, when that file exists; a new file keeps what the umask gave it.
void keep_permissions(int fd, const std::string& target);

// Flushes the temporary to disk and closes it (unless the caller already closed it and set
// fd to -1), renames it over `target` (a path from replace_target), checking once more that
// nothing but a regular file has come to stand there, then makes the rename durable. On
// failure the temporary is removed and `error` gives the reason.
bool commit_temporary(TempFile& temp, const std::string& target, std::string& error);
// Closes (if still open) and removes the temporary.
void discard_temporary(TempFile& temp);

// Removes, in the folder of `target`, the temporaries this program left for any target
// when the process named in them no longer exists. Another user's or a live process's
// temporary is never touched; neither is a name of any other shape.
void remove_stale_temporaries(const std::string& target);

// Names the cleanup handlers remove on SIGINT, SIGTERM and SIGHUP (files first, then
// folders, which must be empty by then), for files and folders a run makes outside
// create_temporary. Returns a slot for unregister_removal, or -1 when all are taken.
int register_removal(const std::string& path);
void unregister_removal(int& slot);

// A new folder in the system's temporary folder that only this user can enter, for files no
// one else should see or plant (a converter's metafile when the picture goes out in another
// format). nullopt with `error` set when none can be made.
std::optional<std::string> make_private_directory(std::string& error);

// ---------------------------------------------------------------------------------------
// Processes and signals

// True unless the process certainly does not exist (a process of another user counts as
// alive).
bool process_alive(long pid);
long current_process_id();

// Installs, once per process, handlers for SIGINT, SIGTERM and SIGHUP that remove every
// registered temporary and then end the process as the signal would have. A signal the
// process was started with ignored (nohup) stays ignored. Safe to call more than once.
void install_cleanup_handlers();

// Has `flag` set to 1 on the first interrupt or termination request (SIGINT, SIGTERM; on a
// console Ctrl+C, Ctrl+Break, closing it), so a long run can stop between two pieces of
// work; the next request ends the process at once as usual.
void request_stop_on_signal(volatile std::sig_atomic_t& flag);
// Waits `time`; a stop request may cut the wait short.
void pause_for(std::chrono::milliseconds time);

// The full path of the running program, or "" when the system cannot tell.
std::string program_path();

// ---------------------------------------------------------------------------------------
// Loadable modules

// Loads the shared module at `path` with all its references bound at once, so a missing
// library or symbol shows here and not midway through a call. The module stays loaded for
// the life of the process (libraries such as Qt cannot be unloaded safely). nullptr with
// the system's reason in `error` (which names the file that failed).
void* open_module(const std::string& path, std::string& error);
// The address of the exported C symbol `name` in a module from open_module; nullptr with
// `error` set when it has none.
void* module_symbol(void* module, const char* name, std::string& error);

// ---------------------------------------------------------------------------------------
// Clipboard

// True where a program that ends at once can leave a metafile on the system clipboard, as
// the picture other programs paste (Windows' CF_ENHMETAFILE, which the system keeps after
// the program has gone). X and Wayland clipboards are served by the program that offers
// them, so a command-line program has none to leave a picture on there.
bool metafile_clipboard_available();

// Reads the enhanced metafile in the file `path` and puts a copy of it on the clipboard in
// place of what was there; the file may be removed afterwards. False with `error` set when
// the file cannot be read or holds no metafile the system accepts, or the clipboard stays
// taken by another program; the clipboard is then left as it was, as far as the system
// allows (once emptied, it cannot be given its old contents back).
bool put_metafile_on_clipboard(const std::string& path, std::string& error);

// ---------------------------------------------------------------------------------------
// Terminals

bool is_terminal(std::FILE* stream);
// Columns of the terminal (console window) the stream writes to; 0 when it is none or the
// width cannot be found.
int terminal_columns(std::FILE* stream);

}  // namespace plotmint::platform
