// The engine image that brindle_ws embeds (a Qt resource rcc compiled into the
// library). rcc names the initialiser after the resource; it must be called
// from the global namespace, and a static library needs the call to keep the data.
#include <QtCore/qglobal.h>

void initEngineImageResource() { Q_INIT_RESOURCE(corvanews20_engine); }
