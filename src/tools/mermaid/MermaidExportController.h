#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The rendered diagram, fetched from the page: SVG text or PNG bytes. Each fetch answers once,
// later, on the GUI thread: the data, or nothing and (when the page gave one) its reason.
class MermaidExportController : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    template <class Data>
    struct Fetched {
        std::optional<Data> data;
        QString failure; // the page's sentence when there is no data; may be empty
    };
    using SVGReply = std::function<void(Fetched<QString>)>;
    using PNGReply = std::function<void(Fetched<QByteArray>)>;

    std::function<void(SVGReply)> fetchSVG;
    std::function<void(PNGReply)> fetchPNG;
};
