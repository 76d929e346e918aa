// queuerename.exe: queues a file operation for the next restart, as an installer does for a file in use.
//   queuerename SOURCE DESTINATION   renames SOURCE to DESTINATION (replacing it) at the restart
//   queuerename SOURCE               deletes SOURCE at the restart
// Exit code 0, or the error of MoveFileExA.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return ERROR_INVALID_PARAMETER;
  const char* destination = argc == 3 ? argv[2] : nullptr;
  const DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (destination ? MOVEFILE_REPLACE_EXISTING : 0);
  return ::MoveFileExA(argv[1], destination, flags) ? 0 : static_cast<int>(::GetLastError());
}
