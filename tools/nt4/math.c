/* The C runtime's floor for the programs on the driver disk: mingw's import
   library for MSVCRT.DLL leaves floor to mingw's own math library, which is
   not linked (see nt4_disk_program). */
extern double (*_imp__floor)(double); /* MSVCRT.DLL's, through the import table */

double floor(double value)
{
    return _imp__floor(value);
}
