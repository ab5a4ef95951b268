#include "platform/linux/face_landmark_detector.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace perchwell {

namespace {

int area(const cv::Rect& rect) {
    return rect.width * rect.height;
}

// The box's corners as an outline, normalised with the origin at the bottom left.
std::vector<GazePoint> outline(const cv::Rect& box, const cv::Size& image) {
    const auto point = [&](int x, int y) {
        return GazePoint{static_cast<double>(x) / image.width, 1.0 - static_cast<double>(y) / image.height};
    };
    return {point(box.x, box.y), point(box.x + box.width, box.y),
            point(box.x + box.width, box.y + box.height), point(box.x, box.y + box.height)};
}

GazePoint normalised(const cv::Point2d& pixel, const cv::Size& image) {
    return {pixel.x / image.width, 1.0 - pixel.y / image.height};
}

} // namespace

Result<FaceLandmarkDetector> FaceLandmarkDetector::load(const std::string& cascadeDirectory) {
    FaceLandmarkDetector detector;
    for (const auto& [classifier, file] : {std::pair{&detector.face_, "haarcascade_frontalface_default.xml"},
                                           std::pair{&detector.eye_, "haarcascade_eye.xml"}}) {
        const std::string path = cascadeDirectory + "/" + file;
        bool loaded = false;
        try {
            loaded = classifier->load(path);
        } catch (const cv::Exception& error) {
            return Error{"could not read " + path + ": " + error.what()};
        }
        if (!loaded) {
            return Error{"could not read " + path};
        }
    }
    return detector;
}

std::string FaceLandmarkDetector::defaultCascadeDirectory() {
    return PERCHWELL_CASCADE_DIR;
}

std::optional<FaceLandmarks> FaceLandmarkDetector::detect(const cv::Mat& frame) {
    if (frame.empty()) {
        return std::nullopt;
    }
    cv::Mat grey;
    if (frame.channels() == 3) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    } else {
        grey = frame;
    }
    // Evened-out contrast finds faces in dim rooms; the pupil is looked for in the
    // frame as it came, where the darkest blob is the real one.
    cv::Mat equalised;
    cv::equalizeHist(grey, equalised);

    const int smallest = std::max(24, std::min(grey.cols, grey.rows) / 8);
    std::vector<cv::Rect> faces;
    face_.detectMultiScale(equalised, faces, 1.1, 4, 0, cv::Size(smallest, smallest));
    if (faces.empty()) {
        return std::nullopt;
    }
    const cv::Rect face = *std::max_element(
        faces.begin(), faces.end(), [](const cv::Rect& a, const cv::Rect& b) { return area(a) < area(b); });

    // Eyes sit in the upper part of the face; below it the cascade takes nostrils and
    // mouth corners for eyes. Evening out the contrast can wash the eyes out, so the
    // frame as it came is tried first.
    const cv::Rect upper(face.x, face.y, face.width, face.height * 55 / 100);
    std::optional<cv::Rect> imageLeft;
    std::optional<cv::Rect> imageRight;
    for (const cv::Mat* image : {&grey, &equalised}) {
        std::vector<cv::Rect> eyes;
        eye_.detectMultiScale((*image)(upper), eyes, 1.1, 3, 0, cv::Size(face.width / 8, face.width / 8));
        // The largest box on each side of the face's centre line.
        imageLeft.reset();
        imageRight.reset();
        for (cv::Rect eye : eyes) {
            eye += upper.tl();
            const bool onLeft = eye.x + eye.width / 2 < face.x + face.width / 2;
            std::optional<cv::Rect>& side = onLeft ? imageLeft : imageRight;
            if (!side || area(eye) > area(*side)) {
                side = eye;
            }
        }
        if (imageLeft && imageRight) {
            break;
        }
    }
    if (!imageLeft || !imageRight) {
        return std::nullopt;
    }

    const cv::Size size = grey.size();
    const auto pupil = [&](const cv::Rect& box) {
        const cv::Point2d inBox = darkestBlob(grey(box));
        return normalised(cv::Point2d(box.x + inBox.x, box.y + inBox.y), size);
    };
    // The camera faces the user: the person's left eye is on the image's right.
    FaceLandmarks landmarks;
    landmarks.leftEye = outline(*imageRight, size);
    landmarks.rightEye = outline(*imageLeft, size);
    landmarks.leftPupil = {pupil(*imageRight)};
    landmarks.rightPupil = {pupil(*imageLeft)};
    return landmarks;
}

cv::Point2d darkestBlob(const cv::Mat& eye) {
    if (eye.empty()) {
        return {0, 0};
    }
    // Smoothing keeps single dark pixels (noise, lashes) from winning.
    cv::Mat smooth;
    const double sigma = 1.0 + eye.cols / 30.0;
    cv::GaussianBlur(eye, smooth, cv::Size(0, 0), sigma);
    double darkest = 0;
    double brightest = 0;
    cv::Point darkestAt;
    cv::minMaxLoc(smooth, &darkest, &brightest, &darkestAt);

    // The blob: the connected dark region around the darkest point.
    const double margin = std::max(8.0, 0.15 * (brightest - darkest));
    cv::Mat mask = smooth <= darkest + margin;
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    const int label = labels.at<int>(darkestAt);
    if (label <= 0) {
        return {darkestAt.x + 0.5, darkestAt.y + 0.5};
    }
    // Pixel i covers [i, i + 1): its centre is at i + 0.5, like the box centre it is compared with.
    return {centroids.at<double>(label, 0) + 0.5, centroids.at<double>(label, 1) + 0.5};
}

} // namespace perchwell
