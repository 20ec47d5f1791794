// Checks and Lamé constants of the isotropic material (see material.h).
#include "tools/bake/modes/material.h"

#include <cmath>
#include <sstream>

#include "tools/bake/common/bake_error.h"

void checkMaterial(const Material& m, const std::string& sourceName) {
    std::ostringstream problem;
    if (!(std::isfinite(m.youngsModulus) && m.youngsModulus > 0.0))
        problem << "Young's modulus must be positive (E = " << m.youngsModulus << " Pa)";
    else if (!(std::isfinite(m.poissonRatio) && m.poissonRatio > -1.0 && m.poissonRatio < 0.5))
        problem << "Poisson's ratio must lie between -1 and 0.5 (nu = " << m.poissonRatio
                << "); at 0.5 the material is incompressible and linear tetrahedra lock";
    else if (!(std::isfinite(m.density) && m.density > 0.0))
        problem << "density must be positive (rho = " << m.density << " kg/m^3)";
    if (!problem.str().empty()) throw BakeError(sourceName + ": material: " + problem.str());
}

double lameLambda(const Material& m) {
    return m.youngsModulus * m.poissonRatio /
           ((1.0 + m.poissonRatio) * (1.0 - 2.0 * m.poissonRatio));
}

double shearModulus(const Material& m) { return m.youngsModulus / (2.0 * (1.0 + m.poissonRatio)); }
