#pragma once
// The application's read-only resources, looked up by name and type the way the app's screens ask for
// them. The main bundle is the set of resources compiled into the program (the shell's own under
// ":/veraxo/", the pictures under ":/images/"); tests point a bundle at a directory of their own to
// show what happens when a resource is missing. A missing resource gives an empty path or a null
// image, never an error: each caller decides what an absent resource means.

#include <QImage>
#include <QString>
#include <QStringList>

class Bundle {
public:
    // A bundle searching `roots` in order: directories or Qt resource prefixes such as ":/images/".
    explicit Bundle(const QStringList& roots);
    explicit Bundle(const QString& root) : Bundle(QStringList{root}) {}

    static const Bundle& mainBundle();

    // The path of the resource `name`.`type`, or an empty string when there is none.
    QString pathForResource(const QString& name, const QString& type) const;
    // The image stored under `fileName` ("Icon.png"), or a null image.
    QImage imageNamed(const QString& fileName) const;

private:
    QStringList _roots;
};
