/* A desktop program that imports NobodyShips.dll, which neither Windows nor the package has. */
__declspec(dllimport) int NobodyShipsThis(void);
int main(void) { return NobodyShipsThis(); }
