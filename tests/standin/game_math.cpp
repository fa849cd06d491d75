#include "standin/game_math.h"

#include "standin/standin.h"

extern "C" const char GameMatrixMultiplyBegin[], GameMatrixMultiplyEnd[];
extern "C" const char GameTransformMultiplyBegin[], GameTransformMultiplyEnd[];
extern "C" const char GameBoxPlanesTestBegin[], GameBoxPlanesTestEnd[];

namespace standin {

void PlaceGameMath() {
  PlaceInGame(game::kMatrixMultiply, GameMatrixMultiplyBegin,
              static_cast<size_t>(GameMatrixMultiplyEnd - GameMatrixMultiplyBegin));
  PlaceInGame(game::kTransformMultiply, GameTransformMultiplyBegin,
              static_cast<size_t>(GameTransformMultiplyEnd - GameTransformMultiplyBegin));
  PlaceInGame(game::kBoxPlanesTest, GameBoxPlanesTestBegin,
              static_cast<size_t>(GameBoxPlanesTestEnd - GameBoxPlanesTestBegin));
}

}  // namespace standin
