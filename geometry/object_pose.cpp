// The published pose starts as the identity; scene loading publishes the scene's initial pose.
#include "geometry/object_pose.h"

SeqLock<ObjectPose> publishedObjectPose{identityPose()};
