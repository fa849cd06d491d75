#include "standin/game_sleep.h"

#include "standin/standin.h"

extern "C" const char GameSleepRoutineBegin[], GameSleepRoutineEnd[];

namespace standin {

void PlaceGameSleepRoutine() {
  PlaceInGame(kGameSleepRoutine, GameSleepRoutineBegin,
              static_cast<size_t>(GameSleepRoutineEnd - GameSleepRoutineBegin));
}

}  // namespace standin
