#include "view/frame_math.h"

#include <cmath>
#include <cstring>

const float kClearColourTable[256] = {
    0.0f, 0.000303526991f, 0.000607053982f, 0.000910580973f, 0.00121410796f, 0.00151763496f,
    0.00182116195f, 0.00212468882f, 0.00242821593f, 0.0027317428f, 0.00303526991f, 0.00334653584f,
    0.00367650739f, 0.00402471703f, 0.00439144205f, 0.00477695325f, 0.00518151652f, 0.00560539169f,
    0.00604883302f, 0.00651209056f, 0.00699541019f, 0.00749903219f, 0.00802319311f, 0.00856812578f,
    0.00913405884f, 0.00972121768f, 0.010329823f, 0.0109600937f, 0.0116122449f, 0.012286488f,
    0.0129830325f, 0.0137020834f, 0.0144438436f, 0.0152085144f, 0.0159962941f, 0.0168073755f,
    0.0176419541f, 0.01850022f, 0.0193823613f, 0.0202885624f, 0.0212190095f, 0.0221738853f,
    0.0231533665f, 0.0241576321f, 0.0251868591f, 0.0262412224f, 0.0273208916f, 0.02842604f,
    0.0295568351f, 0.0307134446f, 0.0318960324f, 0.0331047662f, 0.0343398079f, 0.0356013142f,
    0.0368894488f, 0.0382043719f, 0.0395462364f, 0.0409151986f, 0.0423114114f, 0.043735031f,
    0.045186203f, 0.0466650873f, 0.0481718257f, 0.0497065671f, 0.0512694567f, 0.0528606474f,
    0.054480277f, 0.0561284907f, 0.0578054301f, 0.0595112368f, 0.0612460524f, 0.0630100146f,
    0.064803265f, 0.0666259378f, 0.0684781671f, 0.0703600943f, 0.0722718537f, 0.0742135718f,
    0.0761853829f, 0.078187421f, 0.0802198201f, 0.0822827071f, 0.0843762085f, 0.0865004584f,
    0.0886555836f, 0.0908417106f, 0.0930589661f, 0.0953074694f, 0.097587347f, 0.0998987257f,
    0.102241732f, 0.104616486f, 0.107023105f, 0.10946171f, 0.111932427f, 0.114435375f,
    0.116970666f, 0.119538426f, 0.122138776f, 0.124771819f, 0.127437681f, 0.130136475f,
    0.13286832f, 0.135633335f, 0.138431609f, 0.141263291f, 0.144128472f, 0.147027269f,
    0.149959788f, 0.152926147f, 0.155926466f, 0.158960834f, 0.162029371f, 0.165132195f,
    0.168269396f, 0.171441108f, 0.174647406f, 0.177888423f, 0.18116425f, 0.18447499f,
    0.187820777f, 0.191201687f, 0.194617838f, 0.198069319f, 0.20155625f, 0.205078736f,
    0.208636865f, 0.212230757f, 0.215860501f, 0.219526201f, 0.223227963f, 0.226965874f,
    0.230740055f, 0.23455058f, 0.238397568f, 0.242281124f, 0.246201321f, 0.25015828f,
    0.254152089f, 0.258182853f, 0.262250662f, 0.266355604f, 0.270497799f, 0.274677306f,
    0.278894275f, 0.283148736f, 0.287440836f, 0.291770637f, 0.296138257f, 0.300543785f,
    0.304987311f, 0.309468925f, 0.313988715f, 0.318546772f, 0.323143214f, 0.327778101f,
    0.332451522f, 0.337163627f, 0.341914415f, 0.346704066f, 0.351532608f, 0.356400132f,
    0.361306787f, 0.366252601f, 0.371237695f, 0.376262128f, 0.38132602f, 0.386429429f,
    0.391572475f, 0.396755219f, 0.401977777f, 0.407240212f, 0.412542611f, 0.417885065f,
    0.423267663f, 0.428690493f, 0.434153646f, 0.439657182f, 0.445201188f, 0.450785786f,
    0.456411034f, 0.462076992f, 0.467783809f, 0.473531485f, 0.479320168f, 0.48514995f,
    0.491020858f, 0.496932983f, 0.502886474f, 0.50888133f, 0.514917672f, 0.520995557f,
    0.527115107f, 0.533276379f, 0.539479494f, 0.545724452f, 0.55201143f, 0.558340371f,
    0.564711511f, 0.571124852f, 0.577580452f, 0.584078431f, 0.590618849f, 0.597201765f,
    0.603827357f, 0.610495567f, 0.617206573f, 0.623960376f, 0.630757153f, 0.637596846f,
    0.644479692f, 0.651405632f, 0.658374846f, 0.665387273f, 0.672443151f, 0.679542482f,
    0.686685324f, 0.693871737f, 0.701101899f, 0.708375752f, 0.715693474f, 0.723055124f,
    0.730460763f, 0.73791039f, 0.745404184f, 0.752942204f, 0.760524511f, 0.768151164f,
    0.775822222f, 0.783537805f, 0.791297913f, 0.799102724f, 0.806952238f, 0.814846575f,
    0.822785735f, 0.830769897f, 0.838799f, 0.846873224f, 0.854992628f, 0.863157213f,
    0.871367097f, 0.8796224f, 0.887923121f, 0.896269381f, 0.904661179f, 0.913098633f,
    0.921581864f, 0.930110872f, 0.938685715f, 0.947306514f, 0.955973327f, 0.964686275f,
    0.973445296f, 0.982250571f, 0.991102099f, 1.0f,
};

namespace {

// The light sits up and to the right behind the viewer: (2, 3, 6) / 7 in view space.
constexpr float kLightRight = 0.2857143f;
constexpr float kLightUp = 0.42857143f;
constexpr float kLightBack = 0.85714287f;
constexpr float kNearestInRadii = 0.001f;

float column(const float rotation[3][3], int j, int i) {
    return rotation[i][j];
}

}  // namespace

void multiplyAffine(const float a[4][4], const float b[4][4], float out[4][4]) {
    float result[4][4];
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 4; ++k) {
            float sum = a[i][0] * b[0][k] + a[i][1] * b[1][k] + a[i][2] * b[2][k];
            result[i][k] = i == 3 ? sum + b[3][k] : sum;
        }
    }
    memcpy(out, result, sizeof result);
}

void normalMatrix(const float rows[3][4], float out[3][4]) {
    float result[3][4];
    for (int i = 0; i < 3; ++i) {
        float squared = rows[i][0] * rows[i][0] + rows[i][1] * rows[i][1] + rows[i][2] * rows[i][2];
        for (int k = 0; k < 4; ++k) result[i][k] = rows[i][k] / squared;
    }
    memcpy(out, result, sizeof result);
}

void cameraClipRange(const FrameCamera* camera, float* nearPlane, float* farPlane) {
    float s = camera->radius;
    float panDepth = 0;
    for (int i = 0; i < 3; ++i) panDepth += column(camera->rotation, 2, i) * camera->pan[i];
    float depth = kEyeDistanceInRadii * s + panDepth;
    // A target panned far out of the model still keeps the near plane in front of the eye.
    float closest = kNearestInRadii * s;
    float n = depth - s > closest ? depth - s : closest;
    *nearPlane = n;
    *farPlane = n + 2 * s;
}

void cameraEye(const FrameCamera* camera, float eye[3]) {
    float q[3] = {camera->centre[0], camera->centre[1], camera->centre[2]};
    if (!camera->yUp) {
        float y = q[1];
        q[1] = q[2];
        q[2] = -y;
    }
    for (int i = 0; i < 3; ++i)
        eye[i] = camera->pan[i] + kEyeDistanceInRadii * camera->radius * column(camera->rotation, 2, i) + q[i];
}

void framePickCamera(const FrameCamera* camera, PickCamera* out) {
    float eye[3], n, f;
    cameraEye(camera, eye);
    cameraClipRange(camera, &n, &f);
    PickCamera pick{};
    for (int i = 0; i < 3; ++i) {
        pick.eye[i] = eye[i];
        for (int axis = 0; axis < 3; ++axis) pick.axes[axis][i] = column(camera->rotation, axis, i);
    }
    pick.zoom = camera->zoom;
    pick.nearDepth = n;
    pick.farDepth = f;
    pick.width = camera->width;
    pick.height = camera->height;
    pick.yUp = camera->yUp;
    memcpy(out, &pick, sizeof pick);
}

void computeFrameConstants(const FrameCamera* camera, FrameConstants* out) {
    const float (*r)[3] = camera->rotation;
    float eye[3];
    cameraEye(camera, eye);
    float n, f;
    cameraClipRange(camera, &n, &f);

    float projection[4][4] = {};
    projection[0][0] = camera->zoom * static_cast<float>(camera->height) / static_cast<float>(camera->width);
    projection[1][1] = camera->zoom;
    projection[2][2] = f / (n - f);
    projection[2][3] = -1;
    projection[3][2] = n * f / (n - f);

    float view[4][4] = {};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) view[i][k] = r[i][k];
    for (int k = 0; k < 3; ++k) view[3][k] = -(eye[0] * r[0][k] + eye[1] * r[1][k] + eye[2] * r[2][k]);
    view[3][3] = 1;

    float viewProjection[4][4];
    multiplyAffine(view, projection, viewProjection);
    float eyeRegister[4] = {eye[0], eye[1], eye[2], 1};
    float light[4] = {0, 0, 0, 0};
    for (int i = 0; i < 3; ++i)
        light[i] = kLightRight * column(r, 0, i) + kLightUp * column(r, 1, i) + kLightBack * column(r, 2, i);
    // The record is packed: its arrays are filled by copying, never through pointers into it.
    memcpy(out->viewProjection, viewProjection, sizeof viewProjection);
    memcpy(out->eye, eyeRegister, sizeof eyeRegister);
    memcpy(out->light, light, sizeof light);
}

void computeObjectConstants(float unitScale, bool yUp, uint32_t colour, ObjectConstants* out) {
    float m = unitScale;
    float model[4][4] = {};
    model[0][0] = m;
    if (yUp) {
        model[1][1] = m;
        model[2][2] = m;
    } else {
        // (x, y, z) becomes m · (x, z, -y): the file's Z axis points up.
        model[1][2] = -m;
        model[2][1] = m;
    }
    model[3][3] = 1;
    float normalRows[3][4];
    normalMatrix(model, normalRows);
    float objectColour[4] = {0, 0, 0, 1};
    for (int c = 0; c < 3; ++c) objectColour[c] = static_cast<float>(colour >> (8 * c) & 0xFF) / 255.0f;
    memcpy(out->model, model, sizeof model);
    memcpy(out->normalRows, normalRows, sizeof normalRows);
    memcpy(out->colour, objectColour, sizeof objectColour);
    out->overhangSine = kNoOverhangs;
    out->bedTop = 0;
    out->outward = 1;
    out->unused = 0;
}

void placeObject(ObjectConstants* constants, const Placement& placement) {
    // Points are row vectors: the turn goes in transposed.
    float turn[4][4] = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) turn[j][i] = static_cast<float>(placement.turn[i][j]);
        turn[3][i] = static_cast<float>(placement.shift[i]);
    }
    turn[3][3] = 1;
    float model[4][4];
    memcpy(model, constants->model, sizeof model);
    multiplyAffine(turn, model, model);
    memcpy(constants->model, model, sizeof model);
}

void setOverhangTint(ObjectConstants* constants, double degrees, float lowest, float reach, bool insideOut) {
    constants->overhangSine = static_cast<float>(sin(degrees * (3.14159265358979323846 / 180.0)));
    constants->bedTop = lowest + 1e-5f * reach + 2e-6f;
    constants->outward = insideOut ? -1.0f : 1.0f;
}
