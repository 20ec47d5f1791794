// Until the camera exists the listener sits at the origin.
#include "geometry/listener_points.h"

SeqLock<ListenerPoints> publishedListener{ListenerPoints{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}};
