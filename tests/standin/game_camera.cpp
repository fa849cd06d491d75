#include "standin/game_camera.h"

#include "standin/standin.h"

extern "C" const char GameThirdPersonCameraBegin[], GameThirdPersonCameraEnd[];
extern "C" const char GameCameraDistanceBegin[], GameCameraDistanceEnd[];
extern "C" const char GameCameraOffsetBegin[], GameCameraOffsetEnd[];
extern "C" const char GameNodeNameTestBegin[], GameNodeNameTestEnd[];

namespace standin {
namespace {

void Place(uint32_t address, const char* begin, const char* end) {
  PlaceInGame(address, begin, static_cast<size_t>(end - begin));
}

}  // namespace

void PlaceGameCamera() {
  Place(game::kThirdPersonCamera, GameThirdPersonCameraBegin, GameThirdPersonCameraEnd);
  Place(game::kCameraDistance, GameCameraDistanceBegin, GameCameraDistanceEnd);
  Place(game::kCameraOffset, GameCameraOffsetBegin, GameCameraOffsetEnd);
  Place(game::kNodeNameTest, GameNodeNameTestBegin, GameNodeNameTestEnd);
  GameGlobal<uint32_t>(kCameraOffsetPointer) = kCameraOffsetValues;
  GameGlobal<uint32_t>(kCameraRegisterFaults) = 0;
}

}  // namespace standin
