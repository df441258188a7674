#ifndef ZIPBUILDER_H
#define ZIPBUILDER_H

#include <QByteArray>
#include <QList>
#include <QString>

// Writes zip archives entry by entry, names exactly as given (hostile ones included), stored
// without compression, as Unix entries with their type in the external attributes.
class ZipBuilder
{
public:
    ZipBuilder& directory(const QString& name);
    ZipBuilder& file(const QString& name, const QByteArray& content);
    ZipBuilder& symLink(const QString& name, const QString& target);
    bool write(const QString& path) const;

private:
    enum class Type : quint32 { Directory = 0040755, File = 0100644, SymLink = 0120777 };
    struct Entry
    {
        QByteArray name;
        QByteArray content;
        Type type;
    };

    QList<Entry> m_entries;
};

#endif // ZIPBUILDER_H
