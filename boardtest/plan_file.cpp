#include "boardtest/plan_file.h"

#include "trace/kept_file.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rio::boardtest {

namespace {

const QString kTooLarge = QStringLiteral("larger than 1 MiB");

// Closes the file however the read ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int fd() const { return m_fd; }

private:
    int m_fd;
};

PlanFile refused(const QString& error) {
    return {std::nullopt, error};
}

} // namespace

PlanFile readPlanFile(const QString& path) {
#ifdef Q_OS_WIN
    const int how = _O_BINARY | _O_NOINHERIT;
#else
    // O_NONBLOCK: opening a FIFO to read returns at once, writer or not.
    const int how = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
#endif
    const Descriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | how));
    if (file.fd() < 0)
        return refused(trace::errnoText(errno));
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0)
        return refused(trace::errnoText(errno));
    if (!S_ISREG(status.st_mode))
        return refused(QStringLiteral("not a regular file"));
    if (status.st_size > kMaxPlanBytes)
        return refused(kTooLarge);

    // One byte more than is allowed tells a file that grew since fstat.
    QByteArray text(qsizetype(kMaxPlanBytes + 1), Qt::Uninitialized);
    qsizetype size = 0;
    while (size < text.size()) {
        const ssize_t got = ::read(file.fd(), text.data() + size, std::size_t(text.size() - size));
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return refused(trace::errnoText(errno));
        }
        size += got;
    }
    if (size > kMaxPlanBytes)
        return refused(kTooLarge);
    text.truncate(size);
    return {text, QString()};
}

} // namespace rio::boardtest
