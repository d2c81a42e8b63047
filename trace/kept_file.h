#pragma once
// Files that are kept whole or not at all, for the records people file: the
// board test's report and the line monitor's Save…. Every write, sync and
// close is checked, and a file is made under a temporary name beside its
// final one and renamed into place only once the disk has all of it.
//
// Plain POSIX calls rather than QFile or QSaveFile: a buffered QFile reports a
// failed write only when it is flushed, QSaveFile::commit() in Qt 6.4 can
// return true after a write failed, and neither asks the disk to keep what
// was written. Here errno's reason is kept, EINTR is retried, and a short
// write is continued until the system takes every byte or says why not.

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <sys/types.h>
#include <unistd.h>

namespace rio::trace {

// How bytes reach a file: the system's write(2), or a stand-in with which a
// test makes writing fail part way.
using WriteCall = ssize_t (*)(int fd, const void* data, size_t size);

// write(2); on Windows the C runtime's _write, which counts in int.
[[nodiscard]] ssize_t systemWrite(int fd, const void* data, size_t size);

// The system's words for an errno value. Qt's qt_error_string() reads its
// number as a Windows error code on Windows, where errno's values mean
// something else ("Out of paper." for ENOSPC).
[[nodiscard]] QString errnoText(int error);

// Why a file could not be kept, naming the file and giving the system's
// reason ("cannot write /r/result.json: No space left on device"); none when
// it was kept.
using FileFailure = std::optional<QString>;

// Creates `path`, which must not exist yet, writes all of `bytes`, syncs and
// closes it. On any failure the file is removed again.
[[nodiscard]] FileFailure writeNewFile(const QString& path, QByteArrayView bytes,
                                       WriteCall write = systemWrite);

// Makes the folder and every missing one above it, syncing the folder that
// gained each new name. A path that exists but is not a folder is refused.
[[nodiscard]] FileFailure makeFolders(const QString& path);

// Asks the disk to keep a folder's names: the files made, renamed or removed
// in it. Windows keeps them without being asked; there it does nothing.
[[nodiscard]] FileFailure syncFolder(const QString& path);

// Writes `bytes` into a new file beside `path`, syncs it and renames it over
// `path`, then syncs the folder: a reader sees the old file or the new one
// whole, never a mix, and on any failure before the rename the old file is as
// it was. The old file's permissions carry over; a symbolic link is followed
// so that the file it names is replaced, not the link. Anything other than a
// regular file is refused.
[[nodiscard]] FileFailure replaceFile(const QString& path, QByteArrayView bytes,
                                      WriteCall write = systemWrite);

// A name no other file beside it is likely to have: ".<name>.<tag>-<random>",
// hidden so that a program watching the folder does not take it for a
// finished file.
[[nodiscard]] QString temporaryNameFor(const QString& name, const char* tag);

} // namespace rio::trace
