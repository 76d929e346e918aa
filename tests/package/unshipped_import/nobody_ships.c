/* A DLL that no package ships; only its import library is used. */
__declspec(dllexport) int NobodyShipsThis(void);
__declspec(dllexport) int NobodyShipsThis(void) { return 0; }
