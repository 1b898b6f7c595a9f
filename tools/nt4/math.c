/* The C runtime's floor and sqrt for the programs on the driver disk:
   mingw's import library for MSVCRT.DLL leaves them to mingw's own math
   library, which is not linked (see nt4_disk_program). */
extern double (*_imp__floor)(double); /* MSVCRT.DLL's, through the import table */
extern double (*_imp__sqrt)(double);

double floor(double value)
{
    return _imp__floor(value);
}

double sqrt(double value)
{
    return _imp__sqrt(value);
}
