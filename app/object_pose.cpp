// The published pose starts as the identity; scene loading publishes the scene's initial pose.
#include "app/object_pose.h"

SeqLock<ObjectPose> publishedObjectPose{identityPose()};
