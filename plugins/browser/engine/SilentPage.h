// SilentPage: a web page that never reaches the user's desktop. It answers the page's own
// dialogs (alert, confirm, prompt, leave-page), file choosers and new windows itself, denies every
// permission, cancels password requests, rejects certificate errors and client certificates, and
// keeps the page's console to itself.
//
// [main-thread]. Owned by the WebPageRenderer that shows it.
#pragma once

#include <QWebEnginePage>

namespace browser {

class SilentPage : public QWebEnginePage {
public:
    SilentPage(QWebEngineProfile *profile, QObject *parent = nullptr);

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &message) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &message) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &message, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceId) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
};

} // namespace browser
