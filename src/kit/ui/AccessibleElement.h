#pragma once

class QWidget;

// How assistive technology sees a widget where it should not be a plain element of its own.
namespace AccessibleElement {

// Decoration a screen reader skips (an icon beside a text that already says it): reported
// invisible, with no children.
void hide(QWidget* widget);
// One element for a group: a static text with no children, named by the widget's accessible
// name or, when that is empty, by its visible children's names in order.
void combine(QWidget* widget);

} // namespace AccessibleElement
