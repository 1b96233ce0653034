#pragma once
// What a screen reader learns of the controls. The controls that paint themselves (labels,
// pictures, group frames, the progress bar, the status bar and its panels) and the ones whose Qt
// widget tells the wrong story (the level bars' sliders, a radio group's buttons) get accessible
// interfaces of their own; a control's hidden children stay out of the tree.
//
// Nothing here runs unless an accessibility client asks: Qt calls the factory only when an
// interface is wanted, and the changes are announced only while accessibility is active.
#include <QAccessible>

class QObject;

namespace fw {

// Installs the factory of the controls' interfaces, once per process; the first control calls it.
void InstallAccessibleControls();

// Tells the listeners, if any, that `object` changed as `event` says (a name, a description).
void NotifyAccessible(QObject *object, QAccessible::Event event);

}  // namespace fw
