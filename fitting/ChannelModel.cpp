#include "fitting/ChannelModel.h"

#include "tiremodel/DemoModels.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {

double EvaluatePoint(TFitChannel channel, const TCoefficientSet& set, double camber, double load,
                     double slip) {
  switch (channel) {
    case TFitChannel::kLateral:
      return LateralForce(ReadLateralCoefficients(set), camber, load, slip);
    case TFitChannel::kAligning: {
      const double r0 = set.Value("R0");
      const double fz0 = set.Value("Fz0");
      const TAligningCoefficients a = ReadAligningCoefficients(set);
      return AligningMoment(set, camber, load, slip, r0, fz0, a.QHz1, a.QHz2, a.QHz3, a.QHz4,
                            a.QCz1, a.QDz1, a.QDz2, a.QDz3, a.QDz4, a.QBz1, a.QBz2, a.QBz3, a.QBz4,
                            a.QBz5, a.QEz1, a.QEz2, a.QEz3, a.QEz4, a.QEz5, a.QBz9, a.QBz10, a.QDz6,
                            a.QDz7, a.QDz8, a.QDz9);
    }
    case TFitChannel::kLongitudinal:
      return LongitudinalForce(ReadLongitudinalCoefficients(set), camber, load, slip);
  }
  return 0.0;
}

Extended ChannelCost(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data) {
  switch (channel) {
    case TFitChannel::kLateral: {
      TDemoModel1 model(&data);
      model.Assign(set);
      return model.ComputeCost();
    }
    case TFitChannel::kAligning: {
      TDemoModel2 model(&data);
      model.Assign(set);
      CurrentTireRadius = set.Value("R0");
      return model.ComputeCost();
    }
    case TFitChannel::kLongitudinal: {
      TDemoModel3 model(&data);
      model.Assign(set);
      return model.ComputeCost();
    }
  }
  return 0;
}

std::string_view ChannelName(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return "lateral";
    case TFitChannel::kAligning: return "aligning";
    case TFitChannel::kLongitudinal: return "longitudinal";
  }
  return "lateral";
}

}  // namespace morvex
