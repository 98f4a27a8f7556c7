/* The shared library is the core's static archive linked whole; this unit
 * only gives the target a source of its own. */
const char orvocore_library_name[] = "ORVOCORE";
