#pragma once
// The help screen: a read-only page of HTML from the application's resources. The page is read once,
// when the controller is made, and shown again unchanged each time help is opened. It never loads
// anything over the network: links inside the page scroll to their anchor, links to the web are
// handed to the user's own browser. A missing page leaves the screen empty but it still opens. Each time
// the screen appears the page takes the keyboard, so Page Down and the arrows scroll it at once.

#include "ViewController.h"

#include "Bundle.h"

#include <QUrl>

#include <functional>

class QTextBrowser;

class HelpViewController : public ViewController {
    Q_OBJECT
public:
    // Where relative links in the page point to.
    static const char* const baseAddress;

    HelpViewController(const QString& nibName, const Bundle* bundle, QObject* parent = nullptr);

    void loadHelp();
    void viewDidAppear(bool animated) override;

    QTextBrowser* webView() const { return _webView; }
    // Replaces what opens links to the web (the desktop's browser by default).
    void setExternalLinkHandler(std::function<void(const QUrl&)> handler);

protected:
    QWidget* loadView() override;

private:
    void onLinkActivated(const QUrl& link);

    const Bundle& _bundle;
    QTextBrowser* _webView = nullptr;
    std::function<void(const QUrl&)> _openExternal;
};
