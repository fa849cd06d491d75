#include "standin/game_math.h"

#include "standin/standin.h"

extern "C" const char GameMatrixMultiplyBegin[], GameMatrixMultiplyEnd[];
extern "C" const char GameTransformMultiplyBegin[], GameTransformMultiplyEnd[];
extern "C" const char GameBoxPlanesTestBegin[], GameBoxPlanesTestEnd[];

namespace standin {

void PlaceGameMath() {
  PlaceInGame(kGameMatrixMultiply, GameMatrixMultiplyBegin,
              static_cast<size_t>(GameMatrixMultiplyEnd - GameMatrixMultiplyBegin));
  PlaceInGame(kGameTransformMultiply, GameTransformMultiplyBegin,
              static_cast<size_t>(GameTransformMultiplyEnd - GameTransformMultiplyBegin));
  PlaceInGame(kGameBoxPlanesTest, GameBoxPlanesTestBegin,
              static_cast<size_t>(GameBoxPlanesTestEnd - GameBoxPlanesTestBegin));
}

}  // namespace standin
