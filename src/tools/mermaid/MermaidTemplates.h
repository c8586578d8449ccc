#pragma once

#include <QList>
#include <QString>

// The starter diagrams of the "Templates" menu, in menu order. Each source's lines are joined by
// single line feeds, with none after the last.
namespace MermaidTemplates {

struct Template {
    QString id;
    QString name;
    QString symbol;
    QString source;
};

const QList<Template>& all();

} // namespace MermaidTemplates
