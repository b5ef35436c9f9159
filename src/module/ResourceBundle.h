#ifndef RESOURCEBUNDLE_H
#define RESOURCEBUNDLE_H

// The module's compiled-in resources (style sheet, icons, translations)
// under ":/updater/". They are compiled as one binary resource tree and become
// visible only once registered, never at load time.
namespace ResourceBundle {

// Registers the bundle with Qt's resource system; later calls do nothing.
bool registerBundle();

} // namespace ResourceBundle

#endif
