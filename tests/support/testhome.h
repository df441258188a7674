#ifndef TESTHOME_H
#define TESTHOME_H

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary profile folder that HOME points at while the object lives.
class TestHome
{
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const;
    QString updaterDir() const;
    QString clientDataDir() const;
    // Writes a file below the profile folder, creating its folders.
    QString writeFile(const QString& relative, const QByteArray& content) const;
    QByteArray readFile(const QString& relative) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previousHome;
};

#endif // TESTHOME_H
