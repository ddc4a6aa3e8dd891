// A DLL that one variant of the simulated service library imports (Windows only): it lies
// beside that variant and nowhere on the search path, as a vendor library's own
// dependencies do, so the variant loads only when its folder is searched for its imports.
extern "C" __declspec(dllexport) int vxsim_dependency_value() { return 4711; }
