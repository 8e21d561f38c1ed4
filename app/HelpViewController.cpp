// Loading of the help page and the routing of its links.

#include "HelpViewController.h"

#include <QDesktopServices>
#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

const char* const HelpViewController::baseAddress = "https://veraxo.example/help/";

HelpViewController::HelpViewController(const QString& nibName, const Bundle* bundle, QObject* parent)
    : ViewController(nibName, parent), _bundle(bundle ? *bundle : Bundle::mainBundle()),
      _openExternal([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setTitle(tr("Help"));
    loadHelp();
}

void HelpViewController::setExternalLinkHandler(std::function<void(const QUrl&)> handler) {
    _openExternal = std::move(handler);
}

void HelpViewController::loadHelp() {
    const QString path = _bundle.pathForResource(QStringLiteral("Help"), QStringLiteral("html"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = file.readAll();
    if (data.isEmpty())
        return;
    view()->update();
    _webView->document()->setBaseUrl(QUrl(QString::fromLatin1(baseAddress)));
    _webView->setHtml(QString::fromUtf8(data));
}

void HelpViewController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    if (_webView)
        _webView->setFocus(Qt::OtherFocusReason);
}

QWidget* HelpViewController::loadView() {
    auto* page = new QWidget;
    page->setObjectName(nibName());
    _webView = new QTextBrowser(page);
    _webView->setObjectName(QStringLiteral("webView"));
    _webView->setFrameShape(QFrame::NoFrame);
    _webView->setFocusPolicy(Qt::StrongFocus);
    // Every click comes to us: the browser widget itself would try to follow links in place.
    _webView->setOpenLinks(false);
    _webView->setOpenExternalLinks(false);
    connect(_webView, &QTextBrowser::anchorClicked, this, &HelpViewController::onLinkActivated);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(_webView);
    return page;
}

void HelpViewController::onLinkActivated(const QUrl& link) {
    const QUrl base(QString::fromLatin1(baseAddress));
    const QUrl target = base.resolved(link);
    if (target.hasFragment() && target.adjusted(QUrl::RemoveFragment) == base) {
        _webView->scrollToAnchor(target.fragment());
        return;
    }
    const QString scheme = target.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
        scheme == QLatin1String("mailto"))
        _openExternal(target);
}
