#pragma once

#include "kit/FileDrop.h"

#include <QPointer>
#include <QWebEngineView>

#include <optional>

// The web view under the Markdown and Mermaid previews. It takes file drags away from the page
// (the page never sees a drag or a drop) and hands dropped file URLs to its FileDrop.
class FileDropWebView : public QWebEngineView {
    Q_OBJECT
public:
    explicit FileDropWebView(QWidget* parent = nullptr);

    void setFileDrop(std::optional<FileDrop> drop) { m_fileDrop = std::move(drop); }
    const std::optional<FileDrop>& fileDrop() const { return m_fileDrop; }
    // The render widget whose drags it takes; none until the page has made one.
    QWidget* watchedRenderWidget() const { return m_watched; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    void watchRenderWidget();
    bool handleDragEvent(QEvent* event);

    std::optional<FileDrop> m_fileDrop;
    QPointer<QWidget> m_watched;
};
