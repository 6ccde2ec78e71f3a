#include "calib/LeastSquares.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_multifit_nlinear.h>

#include <cmath>
#include <memory>

namespace kalvor::calib {

namespace {

template <class T, void (*Free)(T*)>
struct GslDeleter {
    void operator()(T* p) const { Free(p); }
};
using Matrix = std::unique_ptr<gsl_matrix, GslDeleter<gsl_matrix, gsl_matrix_free>>;
using Vector = std::unique_ptr<gsl_vector, GslDeleter<gsl_vector, gsl_vector_free>>;

// Iterations of the trust-region method before a fit counts as not converging.
constexpr size_t kMaxIterations = 500;
// A step below this fraction of each parameter ends the iteration.
constexpr double kStepTolerance = 1e-12;
// When no step lowers the sum of squares any more (GSL_ENOPROG), the point is
// a solution if the residuals are orthogonal to every column of J within this
// cosine (at an exact least-squares solution Jᵀr = 0).
constexpr double kOrthogonality = 1e-6;

struct Problem {
    const Model* model;
    std::span<const Point> points;
};

int residuals(const gsl_vector* x, void* data, gsl_vector* f)
{
    const auto* problem = static_cast<const Problem*>(data);
    const std::span<const double> p(x->data, x->size);
    for (size_t i = 0; i < problem->points.size(); ++i) {
        const double r = problem->model->value(problem->points[i].dose, p) - problem->points[i].response;
        // A trial step where the curve is not defined (a power below 0 at
        // dose 0) must be turned down, not end the fit: a huge residual does.
        gsl_vector_set(f, i, std::isfinite(r) ? r : 1e100);
    }
    return GSL_SUCCESS;
}

int jacobian(const gsl_vector* x, void* data, gsl_matrix* j)
{
    const auto* problem = static_cast<const Problem*>(data);
    const std::span<const double> p(x->data, x->size);
    for (size_t i = 0; i < problem->points.size(); ++i)
        problem->model->gradient(problem->points[i].dose, p, std::span<double>(gsl_matrix_ptr(j, i, 0), x->size));
    return GSL_SUCCESS;
}

// The largest cosine between the residual vector and a column of J.
double largestCosine(const gsl_matrix* j, const gsl_vector* f)
{
    const double fNorm = gsl_blas_dnrm2(f);
    if (fNorm == 0)
        return 0;
    double largest = 0;
    for (size_t k = 0; k < j->size2; ++k) {
        gsl_vector_const_view column = gsl_matrix_const_column(j, k);
        const double cNorm = gsl_blas_dnrm2(&column.vector);
        double dot = 0;
        gsl_blas_ddot(&column.vector, f, &dot);
        if (cNorm > 0)
            largest = std::max(largest, std::abs(dot) / (cNorm * fNorm));
    }
    return largest;
}

} // namespace

void quietGsl()
{
    static const bool quiet = [] {
        gsl_set_error_handler_off();
        return true;
    }();
    (void)quiet;
}

LeastSquaresSolution solveLinear(const Model& model, std::span<const Point> points)
{
    quietGsl();
    LeastSquaresSolution s;
    const size_t n = points.size();
    const size_t p = size_t(model.parameterCount());
    const std::vector<double> none(p, 0.0);
    Matrix x(gsl_matrix_alloc(n, p));
    Vector y(gsl_vector_alloc(n));
    Vector c(gsl_vector_alloc(p));
    Matrix cov(gsl_matrix_alloc(p, p));
    for (size_t i = 0; i < n; ++i) {
        model.gradient(points[i].dose, none, std::span<double>(gsl_matrix_ptr(x.get(), i, 0), p));
        gsl_vector_set(y.get(), i, points[i].response);
    }
    gsl_multifit_linear_workspace* work = gsl_multifit_linear_alloc(n, p);
    // Balanced SVD: the covariance it gives is already s²(XᵀX)⁻¹.
    const int status = gsl_multifit_linear(x.get(), y.get(), c.get(), cov.get(), &s.ssr, work);
    gsl_multifit_linear_free(work);
    if (status != GSL_SUCCESS) {
        s.failure = QString::fromUtf8(gsl_strerror(status));
        return s;
    }
    s.parameters.assign(c->data, c->data + p);
    s.covariance.assign(p * p, 0.0);
    for (size_t i = 0; i < p; ++i)
        for (size_t k = 0; k < p; ++k)
            s.covariance[i * p + k] = gsl_matrix_get(cov.get(), i, k);
    return s;
}

LeastSquaresSolution solveNonlinear(const Model& model, std::span<const Point> points,
                                    const std::vector<double>& start)
{
    quietGsl();
    LeastSquaresSolution s;
    const size_t n = points.size();
    const size_t p = start.size();
    Problem problem{&model, points};
    gsl_multifit_nlinear_fdf fdf{};
    fdf.f = residuals;
    fdf.df = jacobian;
    fdf.fvv = nullptr;
    fdf.n = n;
    fdf.p = p;
    fdf.params = &problem;

    gsl_multifit_nlinear_parameters parameters = gsl_multifit_nlinear_default_parameters();
    gsl_multifit_nlinear_workspace* w = gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &parameters, n, p);
    gsl_vector_const_view x0 = gsl_vector_const_view_array(start.data(), p);
    int status = gsl_multifit_nlinear_init(&x0.vector, &fdf, w);
    bool converged = false;
    size_t iteration = 0;
    while (status == GSL_SUCCESS && iteration < kMaxIterations) {
        ++iteration;
        status = gsl_multifit_nlinear_iterate(w);
        if (status == GSL_ENOPROG) {
            // No step lowers the sum of squares: a solution to machine
            // precision, or a dead end.
            converged = largestCosine(gsl_multifit_nlinear_jac(w), gsl_multifit_nlinear_residual(w)) <= kOrthogonality;
            break;
        }
        if (status != GSL_SUCCESS)
            break;
        int info = 0;
        const int test = gsl_multifit_nlinear_test(kStepTolerance, 0.0, 0.0, &info, w);
        if (test == GSL_SUCCESS) {
            converged = true;
            break;
        }
        if (test != GSL_CONTINUE) {
            status = test;
            break;
        }
    }
    s.iterations = int(iteration);
    const gsl_vector* x = gsl_multifit_nlinear_position(w);
    s.parameters.assign(x->data, x->data + p);
    if (!converged) {
        s.failure = status == GSL_SUCCESS || status == GSL_ENOPROG
                        ? QStringLiteral("no solution after %1 iterations").arg(iteration)
                        : QStringLiteral("GSL: %1").arg(QString::fromUtf8(gsl_strerror(status)));
        gsl_multifit_nlinear_free(w);
        return s;
    }

    // Σ = s²(JᵀJ)⁻¹ with J at the solution, computed afresh from the model.
    Matrix j(gsl_matrix_alloc(n, p));
    Vector f(gsl_vector_alloc(n));
    jacobian(x, &problem, j.get());
    residuals(x, &problem, f.get());
    gsl_multifit_nlinear_free(w);
    gsl_blas_ddot(f.get(), f.get(), &s.ssr);
    Matrix cov(gsl_matrix_alloc(p, p));
    gsl_multifit_nlinear_covar(j.get(), 0.0, cov.get());
    const double s2 = n > p ? s.ssr / double(n - p) : NAN;
    s.covariance.assign(p * p, 0.0);
    for (size_t i = 0; i < p; ++i)
        for (size_t k = 0; k < p; ++k)
            s.covariance[i * p + k] = s2 * gsl_matrix_get(cov.get(), i, k);
    return s;
}

} // namespace kalvor::calib
