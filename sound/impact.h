// The strike on the struck object, without a window: a point force F = M d (magnitude M, unit
// direction d) at one mesh vertex v, projected on the mode shapes, q_j = u_j(v) . F, and added to
// the pending modal forces the audio block exchanges at the end of its current block (the forces
// it loads are then multiplied by modalForceGain, sound/synthesis_state.h); and the search for
// the vertex nearest to a point, which turns a point on the object into the struck vertex.
//
// Callers: the window's picking (ui/picking.h) on the GUI thread, the offline renderer on its one
// thread; the projection alone (modalImpactForces) is what the baker's loudness calibration
// computes for the preset strike. Only applyImpact touches state the audio thread shares, under
// forceMutex.
#pragma once

class ModeShapeMatrix;
struct ObjModel;

// Adds the modal forces of the strike of magnitude `magnitude` (program force units) along
// `direction` (x, y, z, in the frame of the mode shapes; unit length, or 0 for a silent strike) at
// 0-based `vertex` to forces[0 .. shapes.modeCount-1] (not cleared first):
//   forces[j] += u_j(vertex) . (magnitude * direction)   (ModeShapeMatrix::addPointForce).
// A vertex outside 0 .. shapes.vertexCount-1 (a mesh with more vertices than the mode-shape
// matrix has rows for: mismatched scene files) has no modal data: nothing is added and the
// result is false; otherwise true.
// Pure: reads nothing but its arguments. Precondition: `forces` holds shapes.modeCount doubles.
// Real-time: no allocation, no I/O, no lock; O(modeCount).
bool modalImpactForces(const ModeShapeMatrix& shapes, int vertex, const double direction[3],
                       double magnitude, double* forces);

// The impact: under forceMutex, adds the modal forces of the strike (modalImpactForces) to
// pendingModalForce, then sets pendingModalForce[i] = 0 for every mode i from activeModeCount to
// totalModeCount - 1, so that only the modes being synthesised receive force. The audio block's
// next force exchange passes the sum of the impacts since the last one to the block after it.
// Preconditions: allocateModeArrays ran; shapes.modeCount <= totalModeCount.
// Blocking: takes forceMutex (never inside synthesisMutex). No allocation, no I/O.
void applyImpact(const ModeShapeMatrix& shapes, int vertex, const double direction[3],
                 double magnitude);

// Index (0-based) of the vertex of `mesh` nearest to (qx, qy, qz) in the mesh's own frame; ties
// go to the lowest index; 0 for a mesh without vertices.
int findNearestVertex(const ObjModel& mesh, double qx, double qy, double qz);
