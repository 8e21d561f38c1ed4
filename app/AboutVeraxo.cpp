// The versions are asked of the libraries at run time, so the box names what is really loaded.

#include "AboutVeraxo.h"
#include "VeraxoVersion.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>

#include <portaudio.h>
#include <sndfile.h>

QString AboutVeraxo::versionLine() {
    return QStringLiteral("Veraxo %1").arg(QStringLiteral(VERAXO_VERSION));
}

QString AboutVeraxo::libraryLine() {
    const PaVersionInfo* portAudio = Pa_GetVersionInfo();
    const QString portAudioVersion = portAudio ? QStringLiteral("%1.%2.%3")
                                                     .arg(portAudio->versionMajor)
                                                     .arg(portAudio->versionMinor)
                                                     .arg(portAudio->versionSubMinor)
                                               : QStringLiteral("?");
    QString sndfile = QString::fromLatin1(sf_version_string());
    sndfile.remove(QStringLiteral("libsndfile-"));
    return QStringLiteral("Qt %1, PortAudio %2, libsndfile %3")
        .arg(QString::fromLatin1(qVersion()), portAudioVersion, sndfile);
}

QString AboutVeraxo::text() {
    return QCoreApplication::translate(
               "AboutVeraxo",
               "<h3>%1</h3>"
               "<p>Listens to a voice and shows, live, its spectrum and a playful \"lie level\".</p>"
               "<p><b>For entertainment only:</b> it measures sound, not truth, and proves nothing about "
               "anyone's honesty.</p>"
               "<p>Free software under the MIT licence.</p>"
               "<p><small>Built on %2.</small></p>")
        .arg(versionLine().toHtmlEscaped(), libraryLine().toHtmlEscaped());
}

QMessageBox* AboutVeraxo::show(QWidget* parent) {
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, QCoreApplication::translate("AboutVeraxo", "About Veraxo"),
                        text(), QMessageBox::Close, parent);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setTextFormat(Qt::RichText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (parent && !parent->windowIcon().isNull())
        box->setIconPixmap(parent->windowIcon().pixmap(64, 64));
    box->open();
    return box;
}
