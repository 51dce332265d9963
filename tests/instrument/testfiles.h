#pragma once
// File helpers of the instrument tests.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <csignal>
#include <sys/resource.h>

inline QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Makes every write beyond a file size fail for as long as it lives, for
// whoever runs the test (folder permissions do not stop a privileged user).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        active_ = getrlimit(RLIMIT_FSIZE, &old_) == 0;
        if (active_) {
            rlimit lower = old_;
            lower.rlim_cur = bytes;
            active_ = setrlimit(RLIMIT_FSIZE, &lower) == 0;
        }
    }
    ~FileSizeLimit()
    {
        if (active_)
            setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool Active() const { return active_; }

private:
    rlimit old_{};
    bool active_ = false;
    void (*oldHandler_)(int) = nullptr;
};
